#pragma once
// DevicePage: the page protocol shared by the pages of a device's UI
// description, the dynamic page (ClientDynamicView) and the table page. A
// page keeps the device, its widgets in document order, its title and load
// command expressions, a weak reference to the device's page table, and
// `visible`: true from viewDidAppear to viewWillDisappear; every widget
// binding asks it before refreshing.
//
// Ownership: the device's session (DeviceSession) owns the page table and,
// through it, the pages; a page reaches the other pages through a weak
// reference to the table, so a page kept by someone else after the session
// ended opens nothing. The session ends the pages when the user goes back
// from the start page. The navigation stack shows pages but never owns them
// (ownedByStack() is false). Bindings hold pages (redraw requests,
// notifiers) and widgets; the session's unscheduleAll ends that too.
//
// Geometry: a page is 320 × 416 points; widget positions are fractions of
// that (viewWidth(), viewHeight()), also when the bar is hidden.
//
// Thread rule: main thread only.

#include "elements/PageGeometry.h"
#include "widgets/Screen.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fieldmon {

class Client;
class DevicePage;
class RemoteView;

namespace expr {
class Node;
}

using PageTable = std::map<std::string, std::shared_ptr<DevicePage>, std::less<>>;

class DevicePage : public Screen, public std::enable_shared_from_this<DevicePage> {
    Q_OBJECT
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    using Widgets = std::vector<std::shared_ptr<RemoteView>>;

    static constexpr double viewWidth() { return kPageWidth; }
    static constexpr double viewHeight() { return kPageHeight; }

    ~DevicePage() override;

    // --- What the builders set ----------------------------------------------
    void setClient(std::shared_ptr<Client> client) { remoteClient_ = std::move(client); }
    const std::shared_ptr<Client>& remoteClient() const { return remoteClient_; }
    void setDynamicPages(std::weak_ptr<PageTable> pages) { dynamicPages_ = std::move(pages); }
    // The page table while its owner keeps it; null after.
    std::shared_ptr<PageTable> dynamicPages() const { return dynamicPages_.lock(); }
    void setRealName(NodePtr title) { realName_ = std::move(title); }
    const NodePtr& realName() const { return realName_; }
    void setOnPageLoad(NodePtr command) { pageLoad_ = std::move(command); }
    const NodePtr& onPageLoad() const { return pageLoad_; }
    // The widgets in document order; the reader appends to it.
    Widgets& uiElements() { return uiElements_; }
    const Widgets& uiElements() const { return uiElements_; }
    // The name of the page each plain button opens, keyed by its tag in decimal.
    std::map<std::string, std::string>& buttonData() { return buttonData_; }

    // --- What the scheduler asks and tells ------------------------------------
    // Shown, or held live by a screen over it that shows its values (a
    // trend): its bindings keep refreshing.
    bool visible() const { return visible_ || liveHolds_ > 0; }
    void holdLive() { ++liveHolds_; }
    void releaseLive()
    {
        if (liveHolds_ > 0)
            --liveHolds_;
    }
    bool alwaysTrue() const { return true; }
    // Sends the load command, "c" + its text + line feed.
    void runCommand();
    // The title becomes the title expression's text.
    void updateTitle();
    // A page has no rate of its own; the table page answers its rate.
    virtual std::string refreshRate() const { return "never"; }
    // Whether sections and cells of the document belong to this page.
    virtual bool isTablePage() const { return false; }

    // --- What widgets call ----------------------------------------------------
    // A plain button with this tag was pressed: opens the page it names.
    void buttonPress(int tag);
    // Opens the page of that name, animated (see openPage()).
    void pushPageWithTitle(const std::string& name);

    // --- Navigation stack -------------------------------------------------------
    void viewWillDisappear(bool animated) override;

    // The page's widgets and pickers, for the automation interface.
    QJsonArray inspectWidgets() const override;
    std::vector<AutomationDrag> pickDrags(int tag, int column, int row, QString& error) const override;
    bool automationSettling() const override;

    // Text for diagnostics: "<ClientDynamicView: title="...">".
    std::string description() const;

protected:
    DevicePage();

    // Links the widgets that have a responder into a chain in document order
    // ending at the page, and adds their views in reverse order, so that the
    // first widget's view lies on top.
    void linkWidgets(QWidget* viewParent);
    // One-time bindings of the title and the load command; each only when
    // the expression is present.
    void bindTitleOnce();
    void bindPageLoadOnce();

    bool visible_ = false;
    int liveHolds_ = 0;

private:
    // Opens `page` over this one: pushes it, or,
    // when it is already on the stack, goes back to it. A missing page, or
    // this page itself, opens nothing.
    void openPage(const std::shared_ptr<DevicePage>& page, const std::string& name);

    std::shared_ptr<Client> remoteClient_;
    std::weak_ptr<PageTable> dynamicPages_;
    Widgets uiElements_;
    std::map<std::string, std::string> buttonData_;
    NodePtr pageLoad_;
    NodePtr realName_;
};

} // namespace fieldmon
