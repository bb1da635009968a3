// The builder of "page": a page of widgets.

#include "device/Client.h"
#include "pages/ClientDynamicView.h"
#include "pages/PageBuildContext.h"
#include "pages/PageBuilders.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"
#include "widgets/PhoneStyle.h"

namespace fieldmon {

namespace {

// A page without a name has no place in the page table: it is reported and
// not built, and so are its widgets.
bool startPage(uidesc::ElementBuild& b)
{
    PageBuildContext& pages = b.context<PageBuildContext>();
    const std::string* name = b.text("name");
    if (!name) {
        b.report(*b.spec().attribute("name"));
        pages.endCurrentPage();
        return false;
    }
    auto page = ClientDynamicView::create();
    page->setClient(b.clientPtr());
    page->setTitle(phone::deviceLine(*name));
    page->setRealName(b.compile("title"));
    pages.registerPage(*name, page);
    if (auto load = b.compile("onPageLoad"))
        page->setOnPageLoad(load);
    // The colour is read each time the page appears; it is not bound.
    b.arguments<ClientDynamicView>("color", page,
                                   {&ClientDynamicView::setRColor, &ClientDynamicView::setGColor,
                                    &ClientDynamicView::setBColor},
                                   nullptr);
    return true;
}

void endPage(uidesc::ElementBuild& b)
{
    b.context<PageBuildContext>().endCurrentPage();
}

} // namespace

void registerPageElements(uidesc::BuilderRegistry& registry)
{
    registry.add("page", {startPage, endPage});
}

} // namespace fieldmon
