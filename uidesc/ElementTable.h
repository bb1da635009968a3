#pragma once
// The element table: every element of a device's UI description document,
// in the order the reader matches element names, with what it is, whether
// it takes character data and a rate, and each of its attributes: the kind
// of value, whether it is required, the minimum count of an argument list,
// the message a missing or short attribute gets, and whether the element
// then still builds (continue) or is dropped. This part holds no Qt and no
// widget: the reader (XMLReader) and the document checker of the device
// simulator (fieldsim --check) both read it, so the format is written down
// once. What builds each element is a build context's business
// (BuildContext.h): the app's builders live beside the widgets, in
// elements/, registered by element name (BuilderRegistry.h).
//
// How to add a widget:
//   1. Its element is already listed below with its attributes; only a
//      change of the document format changes an entry.
//   2. Make a folder elements/<kind>/ with the widget class (derived from
//      RemoteView), its view if it draws, and its builder (a start
//      function, and an end function if the element takes character data)
//      written with the ElementBuild helpers; the builder's register
//      function registers it under the element's name (one line).
//   3. Add the kind's fieldmon_element_kind line to elements/CMakeLists.txt.
//   Until a builder is registered the reader reports the element, with its
//   line, as not supported yet, and builds nothing.
//
// Thread rule: constant data; any thread.

#include <optional>
#include <string_view>
#include <vector>

namespace fieldmon::uidesc {

enum class AttributeKind {
    Expression,        // compiled once; most are bound at the element's rate
    TrimmedExpression, // an expression with blanks and line breaks trimmed first
    ArgumentList,      // "(a, b, …)": first and last character removed, split, each compiled
    Name,              // plain text used as a key: page names, columns, entries
    Rate,              // "once", "load" or seconds between refreshes
    Flag,              // only the exact text "TRUE" means yes
    Integer,           // leading decimal integer
};

// What a too short argument list does to its element.
enum class WhenShort {
    Continue, // the widget is built with the arguments present (missing ones read 0.0)
    Drop,     // the rest of the element is not read and nothing is placed
};

struct AttributeSpec {
    std::string_view name;
    AttributeKind kind = AttributeKind::Expression;
    bool required = false;
    int minimumArguments = 0;
    // The error list entry when a required attribute is missing or an
    // argument list is too short.
    std::string_view message = {};
    WhenShort whenShort = WhenShort::Continue;
    // The diagnostic line for that case; empty: "Error: " + message.
    std::string_view diagnostic = {};
};

enum class ElementRole {
    Declarations,    // "variables": its text declares the device's variables
    Start,           // "start": names the first page
    Thumbwheel,      // "thumb_def", "wheel", "entry": thumbwheel definitions
    Page,            // "page", "table": an entry of the page table
    TablePart,       // "section", "cell": parts of the enclosing table
    Widget,          // a widget on the current page
    PageOpener,      // a widget that opens another page when pressed
};

enum class CharacterData {
    None,         // ignored
    Declarations, // each piece goes to the declaration parser as it comes
    Expression,   // collected, compiled untrimmed at the element's end
    Title,        // collected, trimmed, compiled at the element's end
};

// What an element that takes an expression as its text is without one.
enum class WithoutText {
    Fine,     // it takes no text, or needs none
    Blank,    // it shows nothing (a label): worth a warning
    Wrong,    // it lacks its caption (a switch): an error
    NotShown, // it is not shown at all (a button): an error
};

struct ElementSpec {
    std::string_view name;
    ElementRole role;
    CharacterData text = CharacterData::None;
    std::vector<AttributeSpec> attributes;
    WithoutText withoutText = WithoutText::Fine;
    // Names the element's own attribute expressions see besides the
    // device's variables (a switch's "state", a joystick's "x" and "y");
    // its text does not see them.
    std::vector<std::string_view> localVariables = {};
    // The attribute naming a local variable that the expressions of the
    // element's cells see (a table's index).
    std::string_view partsLocalAttribute = {};

    const AttributeSpec* attribute(std::string_view attributeName) const;
    // Whether the element's bindings take their rate from "refresh"/"update".
    bool takesRate() const { return attribute("refresh") != nullptr; }
    bool isWidget() const { return role == ElementRole::Widget || role == ElementRole::PageOpener; }
    // Whether its text is an expression that is compiled.
    bool textIsExpression() const { return text == CharacterData::Expression || text == CharacterData::Title; }
};

// Every element, in the order the reader matches names.
const std::vector<ElementSpec>& elementTable();
// The entry for an element name (compared exactly), or null.
const ElementSpec* findElement(std::string_view name);

// The inside of an argument list: the text trimmed of blanks and line breaks
// at both ends, without its first and last character, whatever they are.
// nullopt when fewer than two characters remain to remove.
std::optional<std::string_view> argumentListBody(std::string_view text);
// The text trimmed of blanks, tabs and line breaks at both ends.
std::string_view trimmed(std::string_view text);
// A flag attribute: only the exact text "TRUE" is set.
inline bool flagSet(std::string_view text) { return text == "TRUE"; }

} // namespace fieldmon::uidesc
