#include "app/AppShell.h"

#include "app/AppWindow.h"
#include "app/DeviceDetailScreen.h"
#include "app/DeviceListScreen.h"
#include "widgets/NavigationStack.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace fieldmon {

AppShell::AppShell(ClientFinder::Seams seams, platform::FileTransport* files)
    : services_{loop_, notifications_, alerts_, files ? files : &httpFiles_, &taps_}, seams_(std::move(seams))
{
    httpFiles_.setTaps(&taps_);
}

AppShell::~AppShell()
{
    alerts_.dismissAll();
    // The screens stop listening for registry changes before the finder goes.
    if (deviceList_)
        deviceList_->stopObserving();
    if (detailScreen_)
        detailScreen_->stopObserving();
    // The detail screen has ended the device's session, whose pages go on
    // the loop's next pass: let them go while the services their device
    // uses are still there.
    QCoreApplication::sendPostedEvents();
    // The screen that shows the switch goes with the window; the recording
    // itself runs on until the members go, after the finder.
    recording_.changed = nullptr;
    recording_.setFinder(nullptr);
    finder_.reset();
    window_.reset();
}

void AppShell::launch()
{
    // 1. The window: black, touches on.
    window_ = std::make_unique<AppWindow>();
    alerts_.setParent(window_.get());
    stack_ = window_->navigationStack();

    // 2-3. The device list and the detail screen.
    deviceList_ = new DeviceListScreen(loop_, notifications_, stack_);
    detailScreen_ = new DeviceDetailScreen(loop_, notifications_, stack_);
    detailScreen_->hide();
    deviceList_->setDetailScreen(detailScreen_);
    AppWindow* window = window_.get();
    detailScreen_->networkActivity = [window](bool on) {
        window->statusBar()->setNetworkActivityIndicatorVisible(on);
    };

    // 4. Discovery, handed to the list, and the search.
    finder_ = std::make_unique<ClientFinder>(services_, false, seams_);
    deviceList_->setFinder(finder_.get());
    recording_.setFinder(finder_.get());
    finder_->initiateSearch();

    // The "Record" switch: on starts a file in the documents folder, off
    // names the file written.
    deviceList_->showRecording(recording_.recording());
    DeviceListScreen* list = deviceList_;
    recording_.changed = [list](bool on) { list->showRecording(on); };
    deviceList_->recordSwitched = [this](bool on) {
        if (!on) {
            recording_.stop();
            return;
        }
        QString folder = recordingFolder_.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                             : recordingFolder_;
        QDir().mkpath(folder);
        recording_.start(Recording::fileNameFor(folder.toStdString()));
    };

    // 5-6. The stack with the list as root; the bar is visible.
    stack_->setDelegate(&displayBar_);
    stack_->setNavigationBarHidden(false);
    stack_->setRoot(deviceList_);
    deviceList_->setTitle(QStringLiteral("Devices"));

    // 7. On screen.
    window_->show();
    window_->activateWindow();
}

} // namespace fieldmon
