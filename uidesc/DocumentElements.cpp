#include "uidesc/DocumentElements.h"

#include "device/Client.h"
#include "platform/Diagnostics.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

#include <optional>
#include <string_view>

namespace fieldmon::uidesc {

namespace {

bool startStart(ElementBuild& b)
{
    const std::string* initial = b.text("initial");
    b.context().setStartPageName(initial ? std::optional<std::string>(*initial) : std::nullopt);
    diag("Initial page name '%s'\n", initial ? initial->c_str() : "(null)");
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

const BuilderRegistry& documentBuilders()
{
    static const BuilderRegistry registry = [] {
        BuilderRegistry r;
        r.add("start", {startStart});
        r.add("thumb_def", {startThumbDef});
        r.add("wheel", {startWheel});
        r.add("entry", {startEntry});
        return r;
    }();
    return registry;
}

} // namespace fieldmon::uidesc
