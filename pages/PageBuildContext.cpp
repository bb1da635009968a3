#include "pages/PageBuildContext.h"

#include "device/Client.h"
#include "elements/ElementKinds.h"
#include "elements/RemoteView.h"
#include "pages/PageBuilders.h"
#include "uidesc/BuilderRegistry.h"

#include <QPointer>

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
    // A reading whose start page nobody took must not leave its pages
    // (which hold one another) or their bindings behind.
    if (!startPageHandedOut_)
        releasePages();
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

void PageBuildContext::place(std::shared_ptr<RemoteView> widget)
{
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
        entry->setDynamicPages(nullptr);
    entry = page;
    page->setDynamicPages(dynamicPages_);
    workingStack_.push_back(page);
    currentPage_ = std::move(page);
}

std::shared_ptr<DevicePage> PageBuildContext::initialPage()
{
    if (!initialPageName_ || !dynamicPages_)
        return nullptr;
    auto found = dynamicPages_->find(*initialPageName_);
    if (found == dynamicPages_->end())
        return nullptr;
    found->second->setCleanUp();
    startPageHandedOut_ = true;
    return found->second;
}

void PageBuildContext::releasePages()
{
    if (client_)
        client_->scheduler().unscheduleAll();
    if (dynamicPages_)
        for (const auto& entry : *dynamicPages_)
            entry.second->setDynamicPages(nullptr);
    dynamicPages_.reset();
    currentPage_.reset();
    workingStack_.clear();
}

} // namespace fieldmon
