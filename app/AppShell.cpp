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

#include <chrono>

namespace fieldmon {

AppShell::AppShell(ClientFinder::Seams seams, platform::FileTransport* files)
    : services_{loop_, notifications_, alerts_, files ? files : &httpFiles_}, seams_(std::move(seams))
{
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
    finder_.reset();
    window_.reset();
    // The store hands its last seconds to the storage thread, which writes
    // them before it ends.
    history_.reset();
    if (storage_)
        storage_->stop(platform::StorageThread::Shutdown::Drain);
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
        storage_ = std::make_unique<platform::StorageThread>();
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
    finder_->initiateSearch();

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
