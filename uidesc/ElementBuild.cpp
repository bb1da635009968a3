#include "uidesc/ElementBuild.h"

#include "expr/Compiler.h"
#include "expr/Node.h"
#include "pages/RemoteView.h"
#include "pages/WidgetTags.h"

#include <cstdio>

namespace fieldmon {

const std::string* ElementBuild::text(std::string_view name) const
{
    for (const auto& [key, value] : attributes_)
        if (key == name)
            return &value;
    return nullptr;
}

ElementBuild::NodePtr ElementBuild::compileText(std::string_view text)
{
    return expr::Compiler::compile(clientPtr(), text);
}

ElementBuild::NodePtr ElementBuild::compile(std::string_view name)
{
    const std::string* value = text(name);
    if (!value)
        return nullptr;
    const uidesc::AttributeSpec* attribute = spec_.attribute(name);
    if (attribute && attribute->kind == uidesc::AttributeKind::TrimmedExpression)
        return compileText(uidesc::trimmed(*value));
    return compileText(*value);
}

ElementBuild::NodePtr ElementBuild::required(std::string_view name)
{
    // Any text compiles to a node, a malformed one to an error node, so
    // only an absent attribute is missing. The widget of a malformed one is
    // built as any other; what never goes out is an error value (see
    // pages/Commands.h).
    if (NodePtr e = compile(name))
        return e;
    if (const uidesc::AttributeSpec* attribute = spec_.attribute(name))
        report(*attribute);
    return nullptr;
}

void ElementBuild::bindTo(const NodePtr& e, std::function<void()> notifier)
{
    // A constant is told once, at once, and never kept: what the scheduler
    // would do with it, without making a binding first.
    if (e->isConst()) {
        notifier();
        return;
    }
    std::shared_ptr<DevicePage> page = reader_.currentPage_;
    std::function<bool()> redraw;
    if (page)
        redraw = [page] { return page->visible(); };
    else
        redraw = [] { return false; };
    client().scheduler().bind(e, std::move(notifier), std::move(redraw), element_.rate);
}

bool ElementBuild::argumentList(std::string_view name, std::vector<std::string>& args)
{
    const std::string* value = text(name);
    const uidesc::AttributeSpec* attribute = spec_.attribute(name);
    if (!value || !attribute)
        return true;
    // A list too short to have brackets counts as a list with too few arguments.
    if (auto body = uidesc::argumentListBody(*value))
        args = expr::Compiler::splitArguments(*body);
    if (static_cast<int>(args.size()) < attribute->minimumArguments) {
        report(*attribute);
        if (attribute->whenShort == uidesc::WhenShort::Drop)
            return false;
    }
    return true;
}

int ElementBuild::nextTag()
{
    return widgettags::next();
}

void ElementBuild::place(std::shared_ptr<RemoteView> widget)
{
    reader_.workingStack_.push_back(widget);
    if (DevicePage* p = page())
        p->uiElements().push_back(std::move(widget));
}

void ElementBuild::keep(std::shared_ptr<void> object)
{
    reader_.workingStack_.push_back(std::move(object));
}

void ElementBuild::report(const uidesc::AttributeSpec& attribute)
{
    report(attribute.message, attribute.diagnostic);
}

void ElementBuild::report(std::string_view message, std::string_view diagnostic)
{
    if (diagnostic.empty())
        std::printf("Error: %.*s\n", static_cast<int>(message.size()), message.data());
    else
        std::printf("%.*s\n", static_cast<int>(diagnostic.size()), diagnostic.data());
    reader_.addError(message, reader_.line_);
}

} // namespace fieldmon
