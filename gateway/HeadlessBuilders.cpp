#include "gateway/HeadlessBuilders.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "gateway/HeadlessBuildContext.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"
#include "uidesc/ElementTable.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace fieldmon::gateway {

using NodePtr = uidesc::ElementBuild::NodePtr;

namespace {

HeadlessBuildContext& contextOf(uidesc::ElementBuild& b)
{
    return b.context<HeadlessBuildContext>();
}

// What a person would call an element, from the expression it shows or
// runs: a short plain expression as it is ("speed"), else the words of its
// first quoted text before any conversion ("Flow" of printf("Flow %.2f",
// flow)), else the element's id within its page.
std::string titleOf(std::string_view source, const std::string& fallback)
{
    constexpr std::size_t kMaxPlain = 24;
    std::string_view text = uidesc::trimmed(source);
    if (!text.empty() && text.size() <= kMaxPlain && text.find('"') == std::string_view::npos)
        return std::string(text);
    std::size_t open = text.find('"');
    if (open != std::string_view::npos) {
        std::string_view quoted = text.substr(open + 1);
        quoted = quoted.substr(0, std::min(quoted.find('"'), quoted.find('%')));
        while (!quoted.empty() && std::string_view(" :=,").find(quoted.back()) != std::string_view::npos)
            quoted.remove_suffix(1);
        if (!quoted.empty())
            return std::string(uidesc::trimmed(quoted.substr(0, 48)));
    }
    return fallback;
}

std::string fallbackTitle(uidesc::ElementBuild& b)
{
    return b.context<HeadlessBuildContext>().nextId(b);
}

// The leading decimal integer of a text, as the app's thumbwheel reads "num".
int leadingInteger(const std::string& text)
{
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

std::shared_ptr<HeadlessBinding> makeBinding(uidesc::ElementBuild& b)
{
    auto binding = std::make_shared<HeadlessBinding>();
    binding->name = std::string(b.spec().name);
    binding->client = b.clientPtr();
    return binding;
}

bool startPage(uidesc::ElementBuild& b)
{
    const std::string* name = b.text("name");
    HeadlessBuildContext& context = contextOf(b);
    context.beginPage(name ? *name : std::string());
    if (const std::string* indexVar = b.spec().name == "table" ? b.text("indexVar") : nullptr)
        context.setIndexVariable(*indexVar);
    return true;
}

// A table row of its own ("index"): what the row shows at its right (or,
// without a value there, its centre), evaluated with the table's index
// variable at the row's index, as the table fills the row. Rows repeated
// over a range ("indexStart", "indexEnd", or neither) have as many rows as
// the device says and are not exported.
bool startCell(uidesc::ElementBuild& b)
{
    HeadlessBuildContext& context = contextOf(b);
    if (!context.inPage() || !context.indexVariable() || !b.text("index") || b.text("indexStart") ||
        b.text("indexEnd"))
        return true;
    NodePtr index = b.compile("index");
    NodePtr right = b.compile("right");
    NodePtr center = b.compile("center");
    NodePtr shown = right && !right->isConst() ? right : center && !center->isConst() ? center : right ? right : center;
    if (!index || !index->isConst() || !shown)
        return true;
    auto row = expr::Scope::create(b.clientPtr(), shown);
    row->setVariable(*context.indexVariable(), expr::Node::integer(nullptr, index->intValue()));
    std::string title;
    if (NodePtr left = b.compile("left"); left && left->isConst())
        title = left->stringValue();
    auto binding = makeBinding(b);
    binding->value = row;
    binding->element = context.addElement(b, ExportKind::Label, title.empty() ? fallbackTitle(b) : title);
    context.add(binding);
    b.bind(binding->value, binding, &HeadlessBinding::updateText);
    return true;
}

void endPage(uidesc::ElementBuild& b)
{
    contextOf(b).endPage();
}

// Elements with nothing to export are read and left alone.
bool ignore(uidesc::ElementBuild&)
{
    return true;
}

bool startLabel(uidesc::ElementBuild& b)
{
    if (!contextOf(b).inPage())
        return true;
    auto binding = makeBinding(b);
    b.setWidget(binding);
    return true;
}

// The label's text is its character data, all pieces, untrimmed.
void endLabel(uidesc::ElementBuild& b)
{
    auto binding = b.widget<HeadlessBinding>();
    if (!binding || !b.hasCharacterData())
        return;
    HeadlessBuildContext& context = contextOf(b);
    binding->element = context.addElement(b, ExportKind::Label, titleOf(b.characterData(), fallbackTitle(b)));
    binding->value = b.compileText(b.characterData());
    context.add(binding);
    b.bind(binding->value, binding, &HeadlessBinding::updateText);
}

bool startGauge(uidesc::ElementBuild& b)
{
    HeadlessBuildContext& context = contextOf(b);
    const char* driving = b.spec().name == "progress" ? "progress" : "angle";
    NodePtr value = context.inPage() ? b.compile(driving) : nullptr;
    if (!value)
        return true;
    auto binding = makeBinding(b);
    binding->value = value;
    binding->element = context.addElement(b, ExportKind::Gauge, titleOf(*b.text(driving), fallbackTitle(b)));
    context.add(binding);
    b.bind(value, binding, &HeadlessBinding::updateNumber);
    return true;
}

bool startSwitch(uidesc::ElementBuild& b)
{
    NodePtr command = b.required("command");
    if (!command)
        return false;
    if (!contextOf(b).inPage())
        return true;
    auto binding = makeBinding(b);
    binding->command = command;
    if ((binding->enabled = b.compile("enabled")))
        b.bind(binding->enabled, binding, &HeadlessBinding::updateEnabled);
    b.setWidget(binding);
    return true;
}

// The state expression is the element's text; a switch without text shows
// no device state and still takes commands.
void endSwitch(uidesc::ElementBuild& b)
{
    auto binding = b.widget<HeadlessBinding>();
    if (!binding)
        return;
    HeadlessBuildContext& context = contextOf(b);
    std::string_view source = b.hasCharacterData() ? std::string_view(b.characterData()) : std::string_view();
    binding->element = context.addElement(b, ExportKind::Switch, titleOf(source, fallbackTitle(b)));
    context.add(binding);
    if (b.hasCharacterData()) {
        binding->value = b.compileText(b.characterData());
        b.bind(binding->value, binding, &HeadlessBinding::updateState);
    }
}

bool startPicker(uidesc::ElementBuild& b)
{
    NodePtr command = b.required("command");
    if (!command)
        return false;
    HeadlessBuildContext& context = contextOf(b);
    if (!context.inPage())
        return true;
    const std::string* num = b.spec().name == "thumbwheel" ? b.text("num") : nullptr;
    const int wheel = num ? leadingInteger(*num) : 0;
    auto binding = makeBinding(b);
    binding->command = command;
    Thumbwheels& wheels = b.client().thumbwheels();
    const int columns = std::max(0, wheels.columns(wheel));
    std::string title;
    for (int c = 0; c < columns; ++c) {
        std::vector<std::string> rows;
        for (int r = 0, n = std::max(0, wheels.rows(c, wheel)); r < n; ++r)
            rows.push_back(wheels.display(r, c, wheel));
        binding->columns.push_back(std::move(rows));
    }
    binding->selected.assign(binding->columns.size(), 0);
    // Every combination of rows, column 0 slowest, as many as are allowed.
    std::size_t combinations = binding->columns.empty() ? 0 : 1;
    for (const auto& rows : binding->columns)
        combinations = std::min(combinations * rows.size(), HeadlessBuildContext::kMaxOptions + 1);
    if (combinations <= HeadlessBuildContext::kMaxOptions) {
        std::vector<std::size_t> at(binding->columns.size(), 0);
        for (std::size_t i = 0; i < combinations; ++i) {
            std::swap(at, binding->selected);
            binding->options.push_back(binding->selection());
            std::swap(at, binding->selected);
            for (std::size_t c = at.size(); c-- > 0;) {
                if (++at[c] < binding->columns[c].size())
                    break;
                at[c] = 0;
            }
        }
    }
    binding->element = context.addElement(b, ExportKind::Picker, titleOf(*b.text("command"), fallbackTitle(b)));
    context.add(binding);
    // What the picker shows before anyone turns it: the first row of each column.
    if (!binding->columns.empty())
        binding->tell(binding->selection());
    return true;
}

bool startTextField(uidesc::ElementBuild& b)
{
    NodePtr command = b.required("command");
    if (!command)
        return false;
    HeadlessBuildContext& context = contextOf(b);
    if (!context.inPage())
        return true;
    auto binding = makeBinding(b);
    binding->command = command;
    binding->element = context.addElement(b, ExportKind::TextField, titleOf(*b.text("command"), fallbackTitle(b)));
    context.add(binding);
    return true;
}

uidesc::BuilderRegistry makeBuilders()
{
    uidesc::BuilderRegistry registry;
    registry.add("page", {startPage, endPage});
    registry.add("table", {startPage, endPage});
    registry.add("label", {startLabel, endLabel});
    registry.add("cell", {startCell, nullptr});
    for (const char* gauge : {"arrow", "turbine", "compass", "progress"})
        registry.add(gauge, {startGauge, nullptr});
    registry.add("bool", {startSwitch, endSwitch});
    registry.add("thumbwheel", {startPicker, nullptr});
    registry.add("picker", {startPicker, nullptr});
    registry.add("textfield", {startTextField, nullptr});
    for (const uidesc::ElementSpec& e : uidesc::elementTable())
        if ((e.isWidget() || e.role == uidesc::ElementRole::TablePart || e.role == uidesc::ElementRole::Page) &&
            !registry.find(e.name))
            registry.add(e.name, {ignore, nullptr});
    return registry;
}

} // namespace

const uidesc::BuilderRegistry& headlessBuilders()
{
    static const uidesc::BuilderRegistry registry = makeBuilders();
    return registry;
}

} // namespace fieldmon::gateway
