#include "gateway/HeadlessBuildContext.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "platform/MainLoop.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/Commands.h"
#include "uidesc/ElementBuild.h"
#include "uidesc/ElementTable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace fieldmon::gateway {

using NodePtr = uidesc::ElementBuild::NodePtr;

// One exported element's binding: what its widget would hold, without the
// widget. The scheduler keeps it (through its notifier) until the
// device's bindings are dropped; it reaches the context only through a
// weak reference, so a late refresh after the context went tells nobody.
struct HeadlessBinding {
    std::size_t element = 0;
    std::string name; // the element's name in the document
    std::weak_ptr<Recorder> recorder;
    std::weak_ptr<Client> client;
    NodePtr value;   // text, angle, progress or state
    NodePtr command; // inputs
    NodePtr enabled; // switches
    bool isEnabled = true;
    // Switches: the position shown, and until when device states are held off.
    bool on = true;
    double holdUntil = -1;
    // Pickers: each column's rows, and the row selected in each.
    std::vector<std::vector<std::string>> columns;
    std::vector<std::size_t> selected;
    std::vector<std::string> options;

    void tell(std::string text, std::optional<double> number = std::nullopt)
    {
        if (auto r = recorder.lock())
            (*r)(ElementValue{element, std::move(text), number});
    }
    void updateText();
    void updateNumber();
    void updateState();
    void updateEnabled() { isEnabled = !enabled || enabled->intValue() != 0; }
    std::string selection() const;
};

namespace {

// What a label shows for the device's text: "degrees" as "˚" (U+02DA).
std::string withDegreeSigns(std::string text)
{
    static const std::string word = "degrees";
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 2))
        text.replace(at, word.size(), "\xCB\x9A");
    return text;
}

std::string numberText(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

} // namespace

void HeadlessBinding::updateText()
{
    if (!value)
        return;
    std::string text = withDegreeSigns(value->stringValue());
    std::optional<double> number;
    if (auto read = readNumber(text))
        number = read->number;
    tell(std::move(text), number);
}

void HeadlessBinding::updateNumber()
{
    if (!value)
        return;
    double number = value->doubleValue();
    if (!std::isfinite(number))
        return tell(numberText(number));
    tell(numberText(number), number);
}

void HeadlessBinding::updateState()
{
    auto record = client.lock();
    if (!value || (record && record->loop().now() < holdUntil))
        return;
    // The switch turns only for these states; anything else leaves it as it is.
    const std::string state = value->stringValue();
    if (state == "F" || state == "0")
        on = false;
    else if (state == "C" || state == "1")
        on = true;
    else
        return;
    tell(on ? "ON" : "OFF", on ? 1.0 : 0.0);
}

std::string HeadlessBinding::selection() const
{
    std::string text;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c)
            text += ' ';
        if (selected[c] < columns[c].size())
            text += columns[c][selected[c]];
    }
    return text;
}

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

std::optional<NumberWithUnit> readNumber(const std::string& text)
{
    const std::string_view t = uidesc::trimmed(text);
    if (t.empty() || t.size() > 64)
        return std::nullopt;
    const std::string whole(t);
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(whole.c_str(), &end);
    if (end == whole.c_str() || errno == ERANGE || !std::isfinite(number))
        return std::nullopt;
    // strtod reads "inf", "nan" and hexadecimal: a page shows those as words.
    const char first = whole[whole[0] == '-' || whole[0] == '+' ? 1 : 0];
    if (!(first >= '0' && first <= '9') && first != '.')
        return std::nullopt;
    if (whole.find_first_of("xX") < static_cast<std::size_t>(end - whole.c_str()))
        return std::nullopt;
    std::string_view rest = uidesc::trimmed(std::string_view(end));
    // A unit is one word after the number: no blank, no digit first.
    if (!rest.empty() && (rest.size() > 12 || rest.find_first_of(" \t") != std::string_view::npos ||
                          (rest[0] >= '0' && rest[0] <= '9') || rest[0] == '.' || rest[0] == ','))
        return std::nullopt;
    return NumberWithUnit{number, std::string(rest)};
}

HeadlessBuildContext::HeadlessBuildContext(std::shared_ptr<Client> client, Outlet outlet)
    : client_(std::move(client)), outlet_(std::move(outlet)),
      recorder_(std::make_shared<Recorder>([this](const ElementValue& value) { tell(value); }))
{
}

HeadlessBuildContext::~HeadlessBuildContext()
{
    endBindings();
}

const uidesc::BuilderRegistry& HeadlessBuildContext::gatewayBuilders()
{
    static const uidesc::BuilderRegistry registry = makeBuilders();
    return registry;
}

std::function<bool()> HeadlessBuildContext::redrawRequest()
{
    return [] { return true; };
}

const std::optional<ElementValue>& HeadlessBuildContext::value(std::size_t element) const
{
    static const std::optional<ElementValue> none;
    return element < values_.size() ? values_[element] : none;
}

void HeadlessBuildContext::beginPage(std::string name)
{
    page_ = std::move(name);
    indexVariable_.reset();
    counts_.clear();
}

std::string HeadlessBuildContext::nextId(uidesc::ElementBuild& b) const
{
    const std::string name(b.spec().name);
    auto count = counts_.find(name);
    return page_.value_or(std::string()) + " " + name + std::to_string(count == counts_.end() ? 0 : count->second);
}

std::size_t HeadlessBuildContext::addElement(uidesc::ElementBuild& b, ExportKind kind, std::string title)
{
    const std::string name(b.spec().name);
    ExportedElement element;
    element.page = page_.value_or(std::string());
    element.element = name + std::to_string(counts_[name]++);
    element.title = std::move(title);
    element.kind = kind;
    elements_.push_back(std::move(element));
    values_.emplace_back();
    bindings_.emplace_back();
    return elements_.size() - 1;
}

void HeadlessBuildContext::add(std::shared_ptr<HeadlessBinding> binding)
{
    // The recorder stands for this context in every binding: a binding
    // that outlives the context tells nobody.
    binding->recorder = recorder_;
    if (binding->element < bindings_.size())
        bindings_[binding->element] = binding;
    if (binding->options.size()) {
        ExportedElement& element = elements_[binding->element];
        element.options = binding->options;
    }
    keep(binding);
}

void HeadlessBuildContext::tell(const ElementValue& value)
{
    if (ended_ || value.element >= values_.size())
        return;
    std::optional<ElementValue>& last = values_[value.element];
    if (last && last->text == value.text)
        return;
    last = value;
    if (outlet_)
        outlet_(value);
}

void HeadlessBuildContext::settleLabelKinds()
{
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        ExportedElement& element = elements_[i];
        if (element.kind == ExportKind::Gauge)
            element.numeric = true;
        if (element.kind != ExportKind::Label || !values_[i])
            continue;
        if (auto read = readNumber(values_[i]->text)) {
            element.numeric = true;
            element.unit = read->unit;
        }
    }
}

bool HeadlessBuildContext::command(std::size_t element, const std::string& value, std::string& why)
{
    std::shared_ptr<HeadlessBinding> binding = element < bindings_.size() ? bindings_[element] : nullptr;
    if (ended_ || !binding || !binding->command || !client_) {
        why = "the element takes no command";
        return false;
    }
    std::shared_ptr<Client> record = client_;
    std::weak_ptr<Client> weakRecord = record;
    switch (elements_[element].kind) {
    case ExportKind::Switch: {
        if (!binding->isEnabled) {
            why = "the switch is disabled";
            return false;
        }
        const int on = value == "1" ? 1 : 0;
        // As a flip on the page: the switch turns at once and holds off
        // device states until the device has acted.
        binding->on = on != 0;
        binding->holdUntil = record->loop().now() + kSwitchHoldOffSeconds;
        binding->tell(on ? "ON" : "OFF", on ? 1.0 : 0.0);
        auto command = commands::withParameter(record, binding->command, "state", on);
        commands::whenValuesAreIn(*record, command, [weakRecord, command] {
            auto r = weakRecord.lock();
            if (!r)
                return;
            if (auto text = commands::line(command->eval(), {}, "a switch"))
                r->sendString(*text);
        });
        return true;
    }
    case ExportKind::Picker: {
        auto option = std::find(binding->options.begin(), binding->options.end(), value);
        if (option == binding->options.end()) {
            why = "not one of the picker's options";
            return false;
        }
        // The option's index, column 0 slowest, gives each column's row.
        std::size_t index = static_cast<std::size_t>(option - binding->options.begin());
        for (std::size_t c = binding->columns.size(); c-- > 0;) {
            binding->selected[c] = index % binding->columns[c].size();
            index /= binding->columns[c].size();
        }
        binding->tell(binding->selection());
        std::weak_ptr<HeadlessBinding> weakBinding = binding;
        commands::whenValuesAreIn(*record, binding->command, [weakRecord, weakBinding] {
            auto r = weakRecord.lock();
            auto b = weakBinding.lock();
            if (!r || !b)
                return;
            std::vector<std::string> picked;
            for (std::size_t c = 0; c < b->columns.size(); ++c)
                picked.push_back(b->selected[c] < b->columns[c].size() ? b->columns[c][b->selected[c]] : "");
            expr::Value text = b->command->eval();
            if (text.isError()) {
                commands::line(text, {}, "a picker");
                return;
            }
            r->sendString("c" + commands::substituteWheels(text.stringValue(), picked) + "\n");
        });
        return true;
    }
    case ExportKind::TextField:
        // The typed text, not evaluated, not trimmed.
        record->sendString("c" + value + "\n");
        return true;
    case ExportKind::Label:
    case ExportKind::Gauge:
        break;
    }
    why = "the element takes no command";
    return false;
}

void HeadlessBuildContext::endBindings()
{
    if (ended_)
        return;
    ended_ = true;
    recorder_.reset();
    outlet_ = nullptr;
    if (client_)
        client_->scheduler().unscheduleAll();
    kept_.clear();
    bindings_.clear();
}

} // namespace fieldmon::gateway
