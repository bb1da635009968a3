#include "uidesc/Commands.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "platform/Diagnostics.h"

#include <cstdio>

namespace fieldmon::commands {

std::shared_ptr<expr::Scope> withParameter(const std::shared_ptr<Client>& client,
                                                           const std::shared_ptr<expr::Node>& command,
                                                           const std::string& name, int value)
{
    auto env = expr::Scope::create(client, command);
    env->setVariable(name, expr::Node::integer(nullptr, value));
    return env;
}

void whenValuesAreIn(Client& client, std::shared_ptr<expr::Node> command, std::function<void()> run)
{
    if (!command)
        return;
    // A one-time binding never asks whether it may refresh.
    client.scheduler().bind(std::move(command), std::move(run), [] { return false; }, "once");
    client.variables().requests().submitRequests();
}

std::optional<std::string> line(const Value& value, std::string_view tail, std::string_view who)
{
    if (value.isError()) {
        diag("Not sending the command of %.*s: its value is an error\n", static_cast<int>(who.size()),
                    who.data());
        return std::nullopt;
    }
    std::string text = "c" + value.stringValue();
    text.append(tail);
    text += '\n';
    return text;
}

std::string substituteWheels(const std::string& text, const std::vector<std::string>& values)
{
    std::string out = text;
    // Every occurrence of one placeholder, as plain text, left to right;
    // what it puts in is not searched again by this placeholder, but may be
    // by the next one.
    auto replaceAll = [&out](const std::string& placeholder, const std::string& value) {
        if (out.find(placeholder) == std::string::npos)
            return;
        std::string next;
        std::size_t from = 0;
        for (std::size_t at = out.find(placeholder); at != std::string::npos; at = out.find(placeholder, from)) {
            next.append(out, from, at - from);
            next += value;
            from = at + placeholder.size();
            // Display texts a device chose may grow the text without end;
            // beyond this it is cut (the device gets at most 5999 bytes anyway).
            if (next.size() > kMaxCommandText)
                break;
        }
        if (next.size() <= kMaxCommandText)
            next.append(out, from, std::string::npos);
        if (next.size() > kMaxCommandText)
            next.resize(kMaxCommandText);
        out = std::move(next);
    };
    const std::size_t n = values.size();
    // Ascending, column 0 first. From 11 columns on, wheel1 would take the
    // first six characters of wheel10 … wheel19 before they were looked
    // for, so the order is then descending; with fewer columns no
    // placeholder begins another and the ascending order stays.
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t column = n < kFirstLongPlaceholderColumn + 1 ? k : n - 1 - k;
        replaceAll("wheel" + std::to_string(column), values[column]);
    }
    return out;
}

} // namespace fieldmon::commands
