#include "pages/PageBuildContext.h"

#include "device/Client.h"
#include "device/ClientUpdate.h"
#include "elements/ElementKinds.h"
#include "elements/RemoteView.h"
#include "pages/PageBuilders.h"
#include "uidesc/BuilderRegistry.h"

#include <QPointer>

#include <algorithm>

namespace fieldmon {

const uidesc::BuilderRegistry& PageBuildContext::appBuilders()
{
    static const uidesc::BuilderRegistry registry = [] {
        uidesc::BuilderRegistry r;
        registerPageElements(r);
        registerTableElements(r);
        registerElementKinds(r);
        return r;
    }();
    return registry;
}

PageBuildContext::PageBuildContext(std::shared_ptr<Client> client, const uidesc::BuilderRegistry& builders)
    : client_(std::move(client)), builders_(builders)
{
}

PageBuildContext::~PageBuildContext()
{
    // The bindings hold pages and widgets: a reading must not leave them behind.
    endBindings();
}

std::function<bool()> PageBuildContext::redrawRequest()
{
    if (std::shared_ptr<DevicePage> page = currentPage_)
        return [page] { return page->visible(); };
    return [] { return false; };
}

void PageBuildContext::keep(std::shared_ptr<void> object)
{
    workingStack_.push_back(std::move(object));
}

void PageBuildContext::bound(const std::shared_ptr<void>& widget, const std::shared_ptr<expr::Node>& expression,
                             const std::string& rate)
{
    bound_[widget].expressions.push_back({expression, ClientUpdate::parseUpdateRate(rate).updateRate});
}

std::vector<PageBuildContext::ShownValues> PageBuildContext::shownValues() const
{
    std::vector<std::pair<std::size_t, ShownValues>> placed;
    for (const auto& [key, b] : bound_)
        if (!b.view.expired() && !b.expressions.empty())
            placed.push_back({b.order, ShownValues{b.view, b.expressions}});
    std::sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ShownValues> out;
    out.reserve(placed.size());
    for (auto& p : placed)
        out.push_back(std::move(p.second));
    return out;
}

void PageBuildContext::place(std::shared_ptr<RemoteView> widget)
{
    Bound& b = bound_[widget];
    b.view = widget;
    b.order = placed_++;
    workingStack_.push_back(widget);
    if (currentPage_)
        currentPage_->uiElements().push_back(std::move(widget));
}

std::function<void(const std::string&)> PageBuildContext::pageOpener()
{
    return [page = QPointer<DevicePage>(currentPage_.get())](const std::string& name) {
        if (page)
            page->pushPageWithTitle(name);
    };
}

std::function<void()> PageBuildContext::pageButton(int tag, const std::string* target)
{
    // Outside a page there is no page to register the target with.
    if (currentPage_ && target)
        currentPage_->buttonData()[std::to_string(tag)] = *target;
    return [page = QPointer<DevicePage>(currentPage_.get()), tag] {
        if (page)
            page->buttonPress(tag);
    };
}

void PageBuildContext::registerPage(const std::string& name, std::shared_ptr<DevicePage> page)
{
    auto& entry = (*dynamicPages_)[name];
    // The page it replaces is in the table no more, so it needs the table no more.
    if (entry)
        entry->setDynamicPages({});
    entry = page;
    page->setDynamicPages(dynamicPages_);
    workingStack_.push_back(page);
    currentPage_ = std::move(page);
}

std::shared_ptr<DevicePage> PageBuildContext::initialPage() const
{
    if (!initialPageName_ || !dynamicPages_)
        return nullptr;
    auto found = dynamicPages_->find(*initialPageName_);
    return found == dynamicPages_->end() ? nullptr : found->second;
}

void PageBuildContext::endBindings()
{
    if (bindingsEnded_)
        return;
    bindingsEnded_ = true;
    if (client_)
        client_->scheduler().unscheduleAll();
}

} // namespace fieldmon
