#include "uidesc/ElementTable.h"

#include <unordered_map>

namespace fieldmon::uidesc {

namespace {

using K = AttributeKind;

AttributeSpec expression(std::string_view name)
{
    return {name, K::Expression};
}

AttributeSpec trimmedExpression(std::string_view name)
{
    return {name, K::TrimmedExpression};
}

AttributeSpec name(std::string_view attribute)
{
    return {attribute, K::Name};
}

// A required expression whose absence drops the element.
AttributeSpec command(std::string_view message, std::string_view diagnostic)
{
    return {"command", K::Expression, true, 0, message, WhenShort::Drop, diagnostic};
}

AttributeSpec list(std::string_view attribute, int minimum, std::string_view message, WhenShort whenShort)
{
    return {attribute, K::ArgumentList, false, minimum, message, whenShort};
}

AttributeSpec position(std::string_view message, WhenShort whenShort = WhenShort::Continue)
{
    return list("position", 2, message, whenShort);
}

// "refresh" and "update": two names for the rate of the element's bindings.
void withRate(std::vector<AttributeSpec>& attributes)
{
    attributes.push_back({"refresh", K::Rate});
    attributes.push_back({"update", K::Rate});
}

ElementSpec widget(std::string_view element, ElementRole role, std::vector<AttributeSpec> attributes,
                   CharacterData text = CharacterData::None)
{
    withRate(attributes);
    return {element, role, text, std::move(attributes)};
}

constexpr std::string_view kNoCommand = "Didn't provide a command to the bool";
constexpr std::string_view kNoCommandLine = "ERROR: Didn't provide a command to the bool";
constexpr std::string_view kShortColour = "Not enough args to the gradient";
constexpr std::string_view kShortTable = "Not enough arguments to the table";

std::vector<ElementSpec> makeTable()
{
    using R = ElementRole;
    using T = CharacterData;
    const AttributeSpec pageName = {"name", K::Name, true, 0, "Didn't provide a name to the page", WhenShort::Drop};
    const AttributeSpec tableName = {"name", K::Name, true, 0, "Didn't provide a name to the table", WhenShort::Drop};
    std::vector<AttributeSpec> table = {
        tableName,
        {"cellCount", K::Expression, true, 0, kShortTable, WhenShort::Drop},
        {"indexVar", K::Name, true, 0, kShortTable, WhenShort::Drop},
        expression("title"),
        expression("onPageLoad"),
    };
    withRate(table);
    const auto gauge = [](std::string_view element, std::string_view message) {
        return widget(element, R::Widget, {position(message), trimmedExpression("angle")});
    };
    using W = WithoutText;
    const auto with = [](ElementSpec spec, WithoutText withoutText, std::vector<std::string_view> locals = {}) {
        spec.withoutText = withoutText;
        spec.localVariables = std::move(locals);
        return spec;
    };
    return {
        {"table", R::Page, T::None, table, W::Fine, {}, "indexVar"},
        {"section", R::TablePart, T::None,
         {{"title", K::Expression, true, 0, "Section without a title?", WhenShort::Drop,
           "ERROR: Section without a title?"},
          expression("cellCount")}},
        {"cell", R::TablePart, T::None,
         {expression("left"), expression("right"), expression("center"), expression("command"), name("target"),
          expression("confirm"), expression("index"), expression("indexStart"), expression("indexEnd")}},
        {"thumb_def", R::Thumbwheel, T::None, {}},
        {"wheel", R::Thumbwheel, T::None, {name("name")}},
        {"entry", R::Thumbwheel, T::None, {name("disp"), name("command")}},
        {"page", R::Page, T::None,
         {pageName, expression("title"), expression("onPageLoad"),
          list("color", 3, "Not enough args to the color for the page", WhenShort::Continue)}},
        {"start", R::Start, T::None, {name("initial")}},
        widget("image", R::Widget,
               {{"file", K::Name, true, 0, "Didn't provide an image name to the image", WhenShort::Drop,
                 "ERROR: Didn't provide an image name to the image"},
                position("Not enough args to the RemoteImage")}),
        with(widget("bool", R::Widget,
                    {command(kNoCommand, kNoCommandLine), position("Not enough args to the Bool"), expression("enabled")},
                    T::Expression),
             W::Wrong, {"state"}),
        widget("textfield", R::Widget, {command(kNoCommand, kNoCommandLine), position("Not enough args to the Textinput")}),
        widget("thumbwheel", R::Widget,
               {{"num", K::Integer}, command(kNoCommand, kNoCommandLine), position("Not enough args to the Picker")}),
        widget("picker", R::Widget, {command(kNoCommand, kNoCommandLine), position("Not enough args to the Picker")}),
        widget("infobutton", R::PageOpener, {name("target"), position("Not enough args to the InfoButton")}),
        widget("morebutton", R::PageOpener, {name("target"), position("Not enough args to the InfoButton")}),
        with(widget("button", R::PageOpener, {name("target")}, T::Title), W::NotShown),
        gauge("turbine", "Not enough args to the turbine"),
        gauge("compass", "Not enough args to the compass"),
        gauge("arrow", "Not enough args to the arrow"),
        widget("progress", R::Widget,
               {position("Not enough args to the progress"), trimmedExpression("length"), trimmedExpression("angle"),
                trimmedExpression("progress")}),
        with(widget("label", R::Widget,
                    {position("Not enough args to the button"), expression("size"), expression("left"),
                     expression("right")},
                    T::Expression),
             W::Blank),
        widget("circle", R::Widget,
               {position("Not enough args to the button", WhenShort::Drop), list("color", 4, kShortColour, WhenShort::Drop),
                expression("radius"), list("clipRect", 4, kShortColour, WhenShort::Drop)}),
        {"eventhud", R::Widget, T::None, {}},
        {"joystick", R::Widget, T::None,
         {{"command", K::Expression, true, 0, "No command for joystick", WhenShort::Drop,
           "Error: Please provide a command to the joystick"},
          expression("quad"), expression("rate")},
         W::Fine,
         {"x", "y"}},
        widget("gradient", R::Widget,
               {position("Not enough args to the button", WhenShort::Drop),
                list("innerColor", 4, kShortColour, WhenShort::Drop), list("outerColor", 4, kShortColour, WhenShort::Drop),
                expression("innerRadius"), expression("outerRadius"), list("clipRect", 4, kShortColour, WhenShort::Drop),
                {"extendOuter", K::Flag}, {"extendInner", K::Flag}}),
        // Not part of the names the reader matches: its start is reported
        // like any unknown element; only its character data is read.
        {"variables", R::Declarations, T::Declarations, {}},
    };
}

} // namespace

const AttributeSpec* ElementSpec::attribute(std::string_view attributeName) const
{
    for (const AttributeSpec& a : attributes)
        if (a.name == attributeName)
            return &a;
    return nullptr;
}

const std::vector<ElementSpec>& elementTable()
{
    static const std::vector<ElementSpec> table = makeTable();
    return table;
}

const ElementSpec* findElement(std::string_view name)
{
    static const auto index = [] {
        std::unordered_map<std::string_view, const ElementSpec*> byName;
        for (const ElementSpec& e : elementTable())
            byName.emplace(e.name, &e);
        return byName;
    }();
    auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
}

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::optional<std::string_view> argumentListBody(std::string_view text)
{
    std::string_view t = trimmed(text);
    if (t.size() < 2)
        return std::nullopt;
    return t.substr(1, t.size() - 2);
}

} // namespace fieldmon::uidesc
