#include "pages/DevicePage.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "elements/RemoteView.h"
#include "platform/Diagnostics.h"
#include "platform/MainLoop.h"
#include "widgets/NavigationStack.h"
#include "widgets/PhoneStyle.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>

#include <algorithm>

namespace fieldmon {

DevicePage::DevicePage()
{
    // The page table owns the page; the stack only shows it.
    setOwnedByStack(false);
}

DevicePage::~DevicePage() = default;

std::string DevicePage::description() const
{
    return "<ClientDynamicView: title=\"" + title().toStdString() + "\">";
}

void DevicePage::runCommand()
{
    if (!pageLoad_ || !remoteClient_)
        return;
    expr::Value value = pageLoad_->eval();
    // An error value is no command a device could act on.
    if (value.isError()) {
        diag("Not sending the load command of %s: its value is an error\n", description().c_str());
        return;
    }
    remoteClient_->sendString("c" + value.stringValue() + "\n");
}

void DevicePage::updateTitle()
{
    if (realName_)
        setTitle(phone::deviceLine(realName_->stringValue()));
}

void DevicePage::bindTitleOnce()
{
    if (!realName_ || !remoteClient_)
        return;
    auto self = shared_from_this();
    remoteClient_->scheduler().bind(
        realName_, [self] { self->updateTitle(); }, [self] { return self->alwaysTrue(); }, "once");
    remoteClient_->variables().requests().submitRequests();
}

void DevicePage::bindPageLoadOnce()
{
    if (!pageLoad_ || !remoteClient_)
        return;
    auto self = shared_from_this();
    remoteClient_->scheduler().bind(
        pageLoad_, [self] { self->runCommand(); }, [self] { return self->visible(); }, "once");
}

void DevicePage::linkWidgets(QWidget* viewParent)
{
    RemoteView* previous = nullptr;
    for (const auto& widget : uiElements_) {
        QObject* responder = widget->responder();
        if (!responder)
            continue;
        if (previous)
            previous->setResponder(responder);
        previous = widget.get();
    }
    if (previous)
        previous->setResponder(this);
    for (auto it = uiElements_.rbegin(); it != uiElements_.rend(); ++it)
        if (QWidget* view = (*it)->view()) {
            view->setParent(viewParent);
            view->show();
        }
}

void DevicePage::buttonPress(int tag)
{
    auto target = buttonData_.find(std::to_string(tag));
    pushPageWithTitle(target == buttonData_.end() ? std::string() : target->second);
}

void DevicePage::pushPageWithTitle(const std::string& name)
{
    std::shared_ptr<DevicePage> page;
    if (auto pages = dynamicPages_.lock())
        if (auto found = pages->find(name); found != pages->end())
            page = found->second;
    openPage(page, name);
}

void DevicePage::openPage(const std::shared_ptr<DevicePage>& page, const std::string& name)
{
    if (!page) {
        diag("ERROR: No page named '%s' in dict for pushing\n", name.c_str());
        return;
    }
    NavigationStack* stack = navigationStack();
    if (!stack || page.get() == this)
        return;
    // A page already on the stack cannot be shown twice: go back to it.
    if (stack->contains(page.get())) {
        stack->popTo(page.get(), true);
        return;
    }
    stack->push(page.get(), true);
}

QJsonArray DevicePage::inspectWidgets() const
{
    QJsonArray widgets;
    for (const auto& w : uiElements_) {
        QJsonObject o;
        w->inspect(o);
        widgets.append(o);
    }
    return widgets;
}

std::vector<AutomationDrag> DevicePage::pickDrags(int tag, int column, int row, QString& error) const
{
    for (const auto& widget : uiElements_)
        if (widget->tag() == tag)
            return widget->pickDrags(column, row, error);
    return Screen::pickDrags(tag, column, row, error);
}

bool DevicePage::automationSettling() const
{
    return std::any_of(uiElements_.begin(), uiElements_.end(), [](const auto& w) { return w->settling(); });
}

void DevicePage::viewWillDisappear(bool)
{
    visible_ = false;
}

} // namespace fieldmon
