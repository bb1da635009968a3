#pragma once
// DeclarationParser: the syntax of the declaration text that a device's UI
// description carries. A text is a sequence of statements, each ended by ';'
// outside braces. A statement declares a variable,
//
//     (WORD) speed = 12        an optional type in parentheses (default BYTE),
//                              a name, optionally '=' and the variable index
//
// or defines a type,
//
//     (struct) pt { (WORD) x = 0; (WORD) y = 2; }
//     (enum) mode { OFF; ON; FAULT = 7; }       ("wheel" reads like "enum")
//
// The parser only cuts the text; VariableStore turns the pieces into
// variables and types. Every text parses to something defined, in time and
// memory linear in its length: braces never nest in a body (a body ends at
// the first '}'), so there is no recursion beyond one level of bodies.
//
// Thread rule: stateless; any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

class DeclarationParser {
public:
    // One statement's pieces, each trimmed; absent when the statement had none.
    struct Statement {
        std::optional<std::string> type;
        std::optional<std::string> name;
        std::optional<std::string> index;
        std::optional<std::string> body;
    };

    // The statements of a text: trimmed as a whole, cut at every ';' at brace
    // depth 0; text after the last such ';' is dropped. A '}' with no open
    // brace prints "Syntax error: found too many '}' s" and is ignored. The
    // pieces point into `text` and are not trimmed.
    static std::vector<std::string_view> split(std::string_view text);

    // Runs the statement's character state machine. `debug` enables the
    // "Started in on an enum" diagnostic.
    static Statement parse(std::string_view statement, bool debug);

    static bool isBlank(char c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }
    static std::string_view trim(std::string_view s);
};

} // namespace fieldmon
