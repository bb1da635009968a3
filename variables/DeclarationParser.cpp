#include "variables/DeclarationParser.h"

#include "platform/Diagnostics.h"

#include <cstdint>

namespace fieldmon {

namespace {

// Blanks that end a name or are skipped before one: fewer than isBlank(), as
// a vertical tab or form feed there is part of the name.
bool isNameBreak(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isTypeDefinitionKeyword(std::string_view t)
{
    return t == "struct" || t == "enum" || t == "wheel";
}

} // namespace

std::string_view DeclarationParser::trim(std::string_view s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::vector<std::string_view> DeclarationParser::split(std::string_view text)
{
    text = trim(text);
    std::vector<std::string_view> statements;
    std::int64_t depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth < 0) {
                diag("Syntax error: found too many '}' s\n");
                depth = 0;
            }
        } else if (c == ';' && depth == 0) {
            statements.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return statements;
}

DeclarationParser::Statement DeclarationParser::parse(std::string_view s, bool debug)
{
    // States: 0 before the type, 1 in the type, 2 before a variable's name,
    // 3 in it, 4 after it, 5 after the index; 6, 7 and 8 the same for a
    // type definition's name, 9 in its body.
    Statement st;
    int state = 0;
    std::size_t mark = 0;
    const std::size_t n = s.size();
    auto piece = [&](std::size_t from, std::size_t to) { return std::string(trim(s.substr(from, to - from))); };

    for (std::size_t i = 0; i < n && state != 5; ++i) {
        const char c = s[i];
        // Some transitions hand the same character on to the next state.
        for (bool again = true; again;) {
            again = false;
            switch (state) {
            case 0:
                if (c == '(') {
                    mark = i + 1;
                    state = 1;
                } else if (!isBlank(c)) {
                    st.type = "BYTE";
                    mark = i;
                    state = 3;
                    again = true;
                }
                break;
            case 1:
                if (c == ')') {
                    st.type = piece(mark, i);
                    if (isTypeDefinitionKeyword(*st.type)) {
                        if (debug)
                            diag("Started in on an enum\n");
                        state = 6;
                    } else {
                        state = 2;
                    }
                }
                break;
            case 2:
            case 6:
                if (!isNameBreak(c)) {
                    mark = i;
                    state = state == 2 ? 3 : 7;
                    again = true;
                }
                break;
            case 3:
            case 7:
                if (isNameBreak(c) || c == '=') {
                    st.name = piece(mark, i);
                    state = state == 3 ? 4 : 8;
                    again = c == '=';
                } else if (i + 1 == n) {
                    st.name = piece(mark, n);
                    state = state == 3 ? 4 : 8;
                }
                break;
            case 4:
            case 8:
                if (c == '=') {
                    st.index = piece(i + 1, n);
                    state = 5;
                } else if (state == 8 && c == '{') {
                    mark = i + 1;
                    state = 9;
                }
                break;
            case 9:
                if (c == '}') {
                    st.body = piece(mark, i);
                    state = 8;
                }
                break;
            default:
                break;
            }
        }
    }
    return st;
}

} // namespace fieldmon
