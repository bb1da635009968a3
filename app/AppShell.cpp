#include "app/AppShell.h"

#include "app/AppWindow.h"
#include "app/DeviceDetailScreen.h"
#include "app/DeviceListScreen.h"
#include "app/SessionWatch.h"
#include "platform/Diagnostics.h"
#include "session/DeviceSession.h"
#include "widgets/NavigationStack.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <chrono>

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
    watch_.reset();
    // The screen that shows the switch goes with the window; the recording
    // itself runs on until the members go, after the finder.
    recording_.changed = nullptr;
    recording_.setFinder(nullptr);
    finder_.reset();
    window_.reset();
    // The store hands its last seconds to the storage thread, which writes
    // them, and the recording's last blocks, before it ends (last of the
    // members to go but the services).
    history_.reset();
}

platform::StorageThread& AppShell::storage()
{
    if (!storage_)
        storage_ = std::make_unique<platform::StorageThread>();
    return *storage_;
}

void AppShell::startHistory()
{
    history::HistoryOptions options;
    if (!settings_.dataFolder.isEmpty()) {
        if (QDir().mkpath(settings_.dataFolder))
            options.databasePath = QDir(settings_.dataFolder).filePath(QStringLiteral("history.sqlite")).toStdString();
        else
            diag("History: cannot make the folder %s; the history stays in memory\n",
                 qPrintable(settings_.dataFolder));
    }
    if (!settings_.exportFolder.isEmpty())
        QDir().mkpath(settings_.exportFolder);
    options.diagnostic = [](const std::string& line) { diag("History: %s\n", line.c_str()); };
    if (!options.databasePath.empty())
        storage();
    using namespace std::chrono;
    const history::ClockReading start{loop_.now(), duration<double>(system_clock::now().time_since_epoch()).count()};
    history_ = std::make_unique<history::HistoryStore>(loop_, storage_.get(), std::move(options), start);
}

void AppShell::watchSession(DeviceSession& session)
{
    session.hooks.opened = [this](DeviceSession& s) {
        watch_.reset();
        SessionWatch::Settings settings;
        settings.staleMarks = settings_.staleMarks;
        settings.exportFolder = settings_.exportFolder;
        watch_ = std::make_unique<SessionWatch>(s, *stack_, history_.get(), alerts_, settings);
    };
    session.hooks.ending = [this](DeviceSession&) { watch_.reset(); };
}

void AppShell::launch()
{
    // 0. The history, before anything can feed it.
    startHistory();

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
    detailScreen_->sessionStarted = [this](DeviceSession& session) { watchSession(session); };

    // 4. Discovery, handed to the list, and the search.
    finder_ = std::make_unique<ClientFinder>(services_, false, seams_);
    deviceList_->setFinder(finder_.get());
    recording_.setFinder(finder_.get());
    finder_->initiateSearch();

    // The "Record" switch: on starts a file in the export folder, off names
    // the file written.
    deviceList_->showRecording(recording_.recording());
    DeviceListScreen* list = deviceList_;
    recording_.changed = [list](bool on) { list->showRecording(on); };
    deviceList_->recordSwitched = [this](bool on) {
        if (!on) {
            recording_.stop();
            return;
        }
        QString folder = settings_.exportFolder.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                             : settings_.exportFolder;
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
