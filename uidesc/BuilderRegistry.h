#pragma once
// What builds each element of the document, by element name. The element
// table (ElementTable.h) says what an element is; a builder makes it: a
// start function run at the element's start (answering false when the
// element is dropped, whose end is then skipped) and, for elements that
// take character data or must finish something, an end function.
//
// Each build context has its registry: the app's gathers the builders of
// pages/ and of every kind in elements/; a headless context has its own.
//
// Thread rule: filled once, then read on the main thread.

#include <string_view>
#include <unordered_map>

namespace fieldmon::uidesc {

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

} // namespace fieldmon::uidesc
