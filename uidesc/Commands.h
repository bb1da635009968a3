#pragma once
// Commands of the input widgets and table rows, shared by the app's widgets
// and the gateway's headless bindings. A command is an expression
// whose value, in a line "c" + value + "\n" (a table row's text field adds a
// blank and the typed text), goes to the device when the user acts. Its
// remote values are fetched first: the command is bound once (rate "once")
// and the request batch goes out at once, so the text is built from fresh
// values, and at once when it reads none.
//
// Each action gets its own environment over the command, holding that
// action's parameters (the switch's state, the row's index): an earlier
// action still waiting for its values keeps its own, so two quick actions
// send two different commands, not the last one twice.
//
// Thread rule: main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

class Client;
class Value;

namespace expr {
class Node;
class Scope;
} // namespace expr

namespace commands {

// An environment over `command` with `name` bound to the integer `value`.
std::shared_ptr<expr::Scope> withParameter(const std::shared_ptr<Client>& client,
                                                           const std::shared_ptr<expr::Node>& command,
                                                           const std::string& name, int value);

// Runs `run` once `command`'s remote values are in: a one-time binding of
// the command, then a request batch. A constant command runs at once. The
// device record is not kept alive by the binding's callbacks.
void whenValuesAreIn(Client& client, std::shared_ptr<expr::Node> command, std::function<void()> run);

// The line sent for a command value: "c" + text + `tail` + "\n". An error
// value is no command a device could act on: nullopt, and a line on the
// diagnostic output naming `who`.
std::optional<std::string> line(const Value& value, std::string_view tail, std::string_view who);

// A picker's command text with every placeholder wheel0, wheel1, … replaced
// by `values` (the display text of each column's selected row), as plain
// text, column 0 first; from 11 columns on the order is descending, so
// that wheel10 is replaced before wheel1 could take its first six
// characters. The result is cut at kMaxCommandText.
std::string substituteWheels(const std::string& text, const std::vector<std::string>& values);
constexpr std::size_t kMaxCommandText = 1u << 20;
// wheel10: the first placeholder that begins with another (wheel1).
constexpr std::size_t kFirstLongPlaceholderColumn = 10;

} // namespace commands
} // namespace fieldmon
