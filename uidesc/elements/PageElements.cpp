// Builders of the elements that make pages and what the pages share: "page",
// "start", and the thumbwheel definitions "thumb_def", "wheel", "entry".

#include "device/Client.h"
#include "pages/ClientDynamicView.h"
#include "uidesc/ElementBuild.h"
#include "uidesc/ElementBuilders.h"
#include "widgets/PhoneStyle.h"

#include <cstdio>
#include <optional>
#include <string_view>

namespace fieldmon {

namespace {

// A page of widgets. A page without a name has no place in the page table:
// it is reported and not built, and so are its widgets.
bool startPage(ElementBuild& b)
{
    XMLReader& reader = b.reader();
    const std::string* name = b.text("name");
    if (!name) {
        b.report(*b.spec().attribute("name"));
        reader.endCurrentPage();
        return false;
    }
    auto page = ClientDynamicView::create();
    page->setClient(b.clientPtr());
    page->setTitle(phone::deviceLine(*name));
    page->setRealName(b.compile("title"));
    reader.registerPage(*name, page);
    if (auto load = b.compile("onPageLoad"))
        page->setOnPageLoad(load);
    // The colour is read each time the page appears; it is not bound.
    b.arguments<ClientDynamicView>("color", page,
                                   {&ClientDynamicView::setRColor, &ClientDynamicView::setGColor,
                                    &ClientDynamicView::setBColor},
                                   nullptr);
    return true;
}

void endPage(ElementBuild& b)
{
    b.reader().endCurrentPage();
}

bool startStart(ElementBuild& b)
{
    const std::string* initial = b.text("initial");
    b.reader().setInitialPageName(initial ? std::optional<std::string>(*initial) : std::nullopt);
    std::printf("Initial page name '%s'\n", initial ? initial->c_str() : "(null)");
    return true;
}

// Thumbwheel definitions are numbered in document order; "wheel" and
// "entry" join the last one. Before any "thumb_def" there is none to join,
// so they are ignored.
bool startThumbDef(ElementBuild& b)
{
    b.client().thumbwheels().beginDefinition();
    return true;
}

// An attribute's text, or nullopt when the element has no such attribute
// (which the definitions treat differently from an empty text).
std::optional<std::string_view> optionalText(const std::string* text)
{
    if (!text)
        return std::nullopt;
    return std::string_view(*text);
}

int lastDefinition(ElementBuild& b)
{
    return b.client().thumbwheels().count() - 1;
}

bool startWheel(ElementBuild& b)
{
    int wheel = lastDefinition(b);
    if (wheel < 0)
        return false;
    // A "wheel" without "name" still adds a column, a nameless one.
    b.client().thumbwheels().define(optionalText(b.text("name")), "", "", wheel);
    return true;
}

bool startEntry(ElementBuild& b)
{
    int wheel = lastDefinition(b);
    if (wheel < 0)
        return false;
    b.client().thumbwheels().define("", optionalText(b.text("disp")), optionalText(b.text("command")), wheel);
    return true;
}

} // namespace

void registerPageElements(BuilderRegistry& registry)
{
    registry.add("page", {startPage, endPage});
    registry.add("start", {startStart});
    registry.add("thumb_def", {startThumbDef});
    registry.add("wheel", {startWheel});
    registry.add("entry", {startEntry});
}

} // namespace fieldmon
