#include "elements/Commands.h"

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

} // namespace fieldmon::commands
