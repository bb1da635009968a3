#include "uidesc/ElementBuild.h"

#include "device/Client.h"
#include "expr/Compiler.h"
#include "expr/Node.h"
#include "platform/Diagnostics.h"
#include "uidesc/ErrorList.h"

#include <cstdio>

namespace fieldmon::uidesc {

std::string attributeDictionary(const Attributes& attributes)
{
    std::string dict = "{";
    for (const auto& [key, value] : attributes)
        dict += " " + key + " = \"" + value + "\";";
    return dict + (attributes.empty() ? "}" : " }");
}

const std::string* ElementBuild::text(std::string_view name) const
{
    for (const auto& [key, value] : attributes_)
        if (key == name)
            return &value;
    return nullptr;
}

ElementBuild::NodePtr ElementBuild::compileText(std::string_view text)
{
    return expr::Compiler::compile(client_, text);
}

ElementBuild::NodePtr ElementBuild::compile(std::string_view name)
{
    const std::string* value = text(name);
    if (!value)
        return nullptr;
    const AttributeSpec* attribute = spec().attribute(name);
    if (attribute && attribute->kind == AttributeKind::TrimmedExpression)
        return compileText(trimmed(*value));
    return compileText(*value);
}

ElementBuild::NodePtr ElementBuild::required(std::string_view name)
{
    // Any text compiles to a node, a malformed one to an error node, so
    // only an absent attribute is missing. The widget of a malformed one is
    // built as any other; what never goes out is an error value (see
    // uidesc/Commands.h).
    if (NodePtr e = compile(name))
        return e;
    if (const AttributeSpec* attribute = spec().attribute(name))
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
    client_->scheduler().bind(e, std::move(notifier), context_.redrawRequest(), element_.rate);
}

void ElementBuild::noteBound(const std::shared_ptr<void>& widget, const NodePtr& e)
{
    if (!e->isConst())
        context_.bound(widget, e, element_.rate);
}

bool ElementBuild::argumentList(std::string_view name, std::vector<std::string>& args)
{
    const std::string* value = text(name);
    const AttributeSpec* attribute = spec().attribute(name);
    if (!value || !attribute)
        return true;
    // A list too short to have brackets counts as a list with too few arguments.
    if (auto body = argumentListBody(*value))
        args = expr::Compiler::splitArguments(*body);
    if (static_cast<int>(args.size()) < attribute->minimumArguments) {
        report(*attribute);
        if (attribute->whenShort == WhenShort::Drop)
            return false;
    }
    return true;
}

void ElementBuild::report(const AttributeSpec& attribute)
{
    report(attribute.message, attribute.diagnostic);
}

void ElementBuild::report(std::string_view message, std::string_view diagnostic)
{
    if (diagnostic.empty())
        diag("Error: %.*s\n", static_cast<int>(message.size()), message.data());
    else
        diag("%.*s\n", static_cast<int>(diagnostic.size()), diagnostic.data());
    errors_.add(message, line_);
}

} // namespace fieldmon::uidesc
