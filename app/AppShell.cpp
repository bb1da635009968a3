#include "app/AppShell.h"

#include "app/AppWindow.h"
#include "app/DeviceDetailScreen.h"
#include "app/DeviceListScreen.h"
#include "pages/DevicePage.h"
#include "widgets/NavigationStack.h"

#include <QCoreApplication>

namespace fieldmon {

AppShell::AppShell(ClientFinder::Seams seams, platform::FileTransport* files)
    : services_{loop_, notifications_, alerts_, files ? files : &httpFiles_}, seams_(std::move(seams))
{
}

AppShell::~AppShell()
{
    alerts_.dismissAll();
    // The listen thread may be waiting in a screen's reload; call those
    // waits off before the finder joins the thread.
    if (myTableViewController_)
        myTableViewController_->stopObserving();
    if (myClientViewController_)
        myClientViewController_->stopObserving();
    // A device's pages still on the stack own one another: end them as
    // leaving their start page would, and let the start page go while the
    // services its device uses are still there.
    if (nc_) {
        for (int i = 0; i < nc_->depth(); ++i)
            if (auto* page = qobject_cast<DevicePage*>(nc_->screenAt(i)); page && page->cleanUp())
                page->endPages();
        QCoreApplication::sendPostedEvents();
    }
    finder_.reset();
    window_.reset();
}

void AppShell::applicationDidFinishLaunching()
{
    // 1. The window: black, touches on.
    window_ = std::make_unique<AppWindow>();
    alerts_.setParent(window_.get());
    nc_ = window_->navigationStack();

    // 2-3. The device list and the detail screen.
    myTableViewController_ = new DeviceListScreen(loop_, notifications_, nc_);
    myClientViewController_ = new DeviceDetailScreen(loop_, notifications_, nc_);
    myClientViewController_->hide();
    myTableViewController_->setClientDetailVC(myClientViewController_);
    AppWindow* window = window_.get();
    myClientViewController_->networkActivity = [window](bool on) {
        window->statusBar()->setNetworkActivityIndicatorVisible(on);
    };

    // 4. Discovery, handed to the list, and the search.
    finder_ = std::make_unique<ClientFinder>(services_, false, seams_);
    myTableViewController_->setRemoteClients(finder_.get());
    finder_->initiateSearch();

    // 5-6. The stack with the list as root; the bar is visible.
    nc_->setDelegate(&displayBar_);
    nc_->setNavigationBarHidden(false);
    nc_->setRoot(myTableViewController_);
    myTableViewController_->setTitle(QStringLiteral("Devices"));

    // 7. On screen.
    window_->show();
    window_->activateWindow();
}

} // namespace fieldmon
