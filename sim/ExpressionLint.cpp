#include "sim/ExpressionLint.h"

#include "expr/Builtins.h"
#include "platform/Ascii.h"

namespace fieldmon::sim {

namespace {

using ascii::isDigit;
using ascii::isLetter;

bool isNameChar(char c) { return isLetter(c) || isDigit(c) || c == '_'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && ascii::isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && ascii::isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

const std::set<std::string>& predefinedNames()
{
    static const std::set<std::string> names = {"pi", "true", "TRUE", "yes", "YES", "FALSE", "false", "no", "NO",
                                                "touchx", "touchy", "service", "time"};
    return names;
}

const std::set<std::string>& functionNames()
{
    // The app's own table of built-in functions.
    static const std::set<std::string> names = [] {
        std::set<std::string> all;
        for (const expr::Builtin& b : expr::kBuiltins)
            all.emplace(b.name);
        return all;
    }();
    return names;
}

std::vector<std::string> lintExpression(std::string_view text, const LintNames& names)
{
    std::vector<std::string> problems;
    std::vector<char> open;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (c == '"') {
            std::size_t j = i + 1;
            while (j < n && text[j] != '"')
                j += text[j] == '\\' ? 2 : 1;
            if (j >= n) {
                problems.push_back("string literal is not closed");
                break;
            }
            i = j + 1;
            continue;
        }
        if (c == '(' || c == '[') {
            open.push_back(c);
            ++i;
            continue;
        }
        if (c == ')' || c == ']') {
            const char want = c == ')' ? '(' : '[';
            if (open.empty() || open.back() != want) {
                problems.push_back(std::string("unbalanced '") + c + "'");
                return problems;
            }
            open.pop_back();
            ++i;
            continue;
        }
        if (c == '!') {
            problems.push_back("'!' is no operator (there is no negation and no \"!=\")");
            ++i;
            continue;
        }
        if (isDigit(c) || c == '.') {
            // A number, including 0x1F and 3.25; a "." after a name is handled below.
            while (i < n && (isNameChar(text[i]) || text[i] == '.'))
                ++i;
            continue;
        }
        if (isLetter(c)) {
            std::size_t j = i;
            while (j < n && isNameChar(text[j]))
                ++j;
            const std::string name(text.substr(i, j - i));
            std::size_t k = j;
            while (k < n && (text[k] == ' ' || text[k] == '\t'))
                ++k;
            const bool call = k < n && text[k] == '(';
            if (call) {
                if (!functionNames().count(name))
                    problems.push_back("unknown function '" + name + "'");
            } else if (!names.variables.count(name) && !names.locals.count(name) && !predefinedNames().count(name)) {
                problems.push_back("unknown name '" + name + "'");
            } else if (j < n && text[j] == '.' && names.members) {
                std::size_t m = j + 1;
                while (m < n && isNameChar(text[m]))
                    ++m;
                const std::string member(text.substr(j + 1, m - j - 1));
                const auto* members = names.members(name);
                if (!members)
                    problems.push_back("'" + name + "' is not a structure");
                else if (!members->count(member))
                    problems.push_back("'" + name + "' has no member '" + member + "'");
                j = m;
            }
            i = j;
            continue;
        }
        ++i;
    }
    if (!open.empty())
        problems.push_back(std::string("'") + open.back() + "' is not closed");
    return problems;
}

std::vector<std::string> splitArgumentList(std::string_view text, bool& bracketsOk)
{
    std::vector<std::string> out;
    text = trim(text);
    bracketsOk = false;
    if (text.size() < 2)
        return out;
    const char first = text.front();
    const char last = text.back();
    bracketsOk = (first == '(' && last == ')') || (first == '[' && last == ']') || (first == '{' && last == '}');
    std::string_view inner = trim(text.substr(1, text.size() - 2));
    if (inner.empty())
        return out;
    int paren = 0;
    int bracket = 0;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (c == '\\') {
            ++i;
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        else if (c == '(')
            ++paren;
        else if (c == ')')
            --paren;
        else if (c == '[')
            ++bracket;
        else if (c == ']')
            --bracket;
        if (paren < 0 || bracket < 0)
            return {"\"error\""};
        if (c == ',' && !quoted && paren == 0 && bracket == 0) {
            out.emplace_back(inner.substr(start, i - start));
            start = i + 1;
        }
    }
    if (paren == 0 && bracket == 0 && !quoted && start < inner.size())
        out.emplace_back(inner.substr(start));
    else if (paren != 0 || bracket != 0 || quoted)
        return {std::string(inner)}; // unbalanced: one argument, as the reader sees it
    return out;
}

} // namespace fieldmon::sim
