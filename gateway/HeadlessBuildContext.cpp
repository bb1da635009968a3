#include "gateway/HeadlessBuildContext.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "gateway/HeadlessBuilders.h"
#include "platform/MainLoop.h"
#include "uidesc/Commands.h"
#include "uidesc/ElementBuild.h"

#include <algorithm>

namespace fieldmon::gateway {

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
    return headlessBuilders();
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
        if (auto read = uidesc::readNumber(values_[i]->text)) {
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
