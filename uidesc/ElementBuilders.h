#pragma once
// What builds each element of the document, by element name. The element
// table (ElementTable.h) says what an element is; a builder makes it: a
// start function run at the element's start (answering false when the
// element is dropped, whose end is then skipped) and, for elements that
// take character data or must finish something, an end function.
//
// Builders live in uidesc/elements/, each beside its siblings, and are
// registered by their file's register function (the list below). An element
// of the table without a builder is reported as not supported yet.
//
// Thread rule: main thread only.

#include <string_view>
#include <unordered_map>

namespace fieldmon {

class ElementBuild;

struct ElementBuilder {
    bool (*start)(ElementBuild&) = nullptr;
    void (*end)(ElementBuild&) = nullptr;
};

class BuilderRegistry {
public:
    // `name` must be an element of the table, registered once.
    void add(std::string_view name, ElementBuilder builder);
    const ElementBuilder* find(std::string_view name) const;
    // Puts `builder` in the place of the element's builder (tests stand in
    // for widgets this way).
    void replace(std::string_view name, ElementBuilder builder);

private:
    std::unordered_map<std::string_view, ElementBuilder> builders_;
};

// Every registered builder.
const BuilderRegistry& elementBuilders();

// One register function per file of uidesc/elements/.
void registerPageElements(BuilderRegistry& registry);   // page, start, thumb_def, wheel, entry
void registerTextElements(BuilderRegistry& registry);   // label, button, infobutton, morebutton
void registerGaugeElements(BuilderRegistry& registry);  // progress, circle, gradient, turbine, compass, arrow, image
void registerOverlayElements(BuilderRegistry& registry); // joystick, eventhud
void registerInputElements(BuilderRegistry& registry);  // bool, textfield, thumbwheel, picker
void registerTableElements(BuilderRegistry& registry);  // table, section, cell

} // namespace fieldmon
