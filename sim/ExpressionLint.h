#pragma once
// ExpressionLint: a quick look at an expression of a UI description for the
// mistakes a device author makes most: unbalanced brackets or quotes, names
// that are neither declared variables nor predefined nor local, unknown
// functions, structure members that do not exist, and "!" (the language has
// no negation and no "!="). It does not evaluate anything.
//
// Thread rule: pure functions.

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::sim {

struct LintNames {
    std::set<std::string> variables;             // declared on the device
    std::set<std::string> locals;                // e.g. state, x, y, the table's index
    // Members of a structure variable, by variable name; absent: not a structure.
    std::function<const std::set<std::string>*(const std::string&)> members;
};

// Problems found, one text each; empty when the expression looks sound.
std::vector<std::string> lintExpression(std::string_view text, const LintNames& names);

// The predefined names every device expression can use.
const std::set<std::string>& predefinedNames();
const std::set<std::string>& functionNames();

// Splits an argument list the way the reader does: trims, removes the first
// and last character (the brackets), then splits at commas outside quotes,
// brackets and parentheses. `bracketsOk` tells whether the removed pair was
// (), [] or {}.
std::vector<std::string> splitArgumentList(std::string_view text, bool& bracketsOk);

} // namespace fieldmon::sim
