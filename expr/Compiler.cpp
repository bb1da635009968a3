#include "expr/Compiler.h"

#include <cstdio>

namespace fieldmon::expr {

namespace {

bool isOperatorChar(char c)
{
    switch (c) {
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case '&':
    case '|':
    case '>':
    case '<':
    case '?':
    case ':':
    case '=': return true;
    }
    return false;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Where a number ends: white space, most operator characters, parentheses,
// or the end of the text.
bool endsNumber(char c, bool atEnd)
{
    if (atEnd || isSpace(c))
        return true;
    switch (c) {
    case '+':
    case '&':
    case '|':
    case '>':
    case '<':
    case '-':
    case '%':
    case '/':
    case '*':
    case '(':
    case ')':
    case '?':
    case ':':
    case '=': return true;
    }
    return false;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// printf's %s of a piece of text (which is not NUL-terminated).
int len(std::string_view s)
{
    return static_cast<int>(s.size());
}

} // namespace

NodePtr Compiler::compile(const ClientPtr& client, std::string_view text)
{
    // The text is a C text for the machine: it ends at its first NUL.
    std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    if (text.size() > kMaxLength) {
        std::printf("Error: Expression too long\n");
        return ClientData::error(nullptr);
    }
    Compiler c(client, client && client->debug());
    return c.compileText(text, 0);
}

NodePtr Compiler::compileText(std::string_view text, int nesting)
{
    if (nesting > kMaxNesting) {
        std::printf("Error: Expression nests too deeply\n");
        return ClientData::error(nullptr);
    }
    if (debug_)
        std::printf("Evaluating expression '%.*s'\n", len(text), text.data());

    auto fail = [] { return ClientData::error(nullptr); };
    auto tooTall = [](const NodePtr& n) {
        if (n->height() <= kMaxHeight)
            return false;
        std::printf("Error: Expression nests too deeply\n");
        return true;
    };

    std::vector<NodePtr> tokens;
    auto pop = [&tokens]() -> NodePtr {
        if (tokens.empty())
            return nullptr;
        NodePtr n = std::move(tokens.back());
        tokens.pop_back();
        return n;
    };

    int state = 0;
    std::size_t mark = 0;
    int depth = 0;
    std::uint32_t intAcc = 0; // 32-bit, wrapping
    double floatAcc = 0.0;
    double divisor = 10.0;
    bool isInteger = true;
    bool hex = false;
    char remembered = 0;

    const std::size_t n = text.size();
    auto block = [&](std::size_t i) { return trimmed(text.substr(mark, i - mark)); };

    // Pushes the name that ends at i: a variable (state 2), an element of
    // the node before it (state 8), or nothing after a "]" (state 9).
    auto emit = [&](std::size_t i) -> bool {
        std::string_view name = block(i);
        if (state == 2) {
            tokens.push_back(ClientData::variable(client_, std::string(name)));
            return true;
        }
        if (state == 8) {
            NodePtr structure = pop();
            NodePtr e = ClientData::element(client_, std::string(name), std::move(structure));
            if (tooTall(e))
                return false;
            tokens.push_back(std::move(e));
        }
        return true;
    };

    for (std::size_t i = 0; i <= n;) {
        const bool atEnd = i == n;
        const char c = atEnd ? '\0' : text[i];
        if (debug_)
            std::printf("State = %d '%c'\n", state, c);
        bool advance = true;

        switch (state) {
        case 0:
            if (atEnd)
                break;
            if (c == '(') {
                if (debug_)
                    std::printf("Found a (\n");
                mark = i + 1;
                depth = 1;
                state = 4;
            } else if (isLetter(c)) {
                if (debug_)
                    std::printf("Found a char\n");
                mark = i;
                state = 2;
            } else if (isDigit(c) || c == '.') {
                if (debug_)
                    std::printf("Found a number\n");
                isInteger = true;
                hex = false;
                intAcc = 0;
                floatAcc = 0.0;
                state = 1;
                advance = false;
            } else if (isOperatorChar(c)) {
                if (debug_)
                    std::printf("Found a symbol.  Relooping\n");
                state = 3;
                advance = false;
            } else if (c == '"') {
                if (debug_)
                    std::printf("Found a string\n");
                mark = i + 1;
                state = 11;
            }
            break;

        case 1:
            if (endsNumber(c, atEnd)) {
                if (debug_)
                    std::printf("Found an end signifier.\n");
                if (isInteger)
                    tokens.push_back(ClientData::integer(client_, static_cast<std::int32_t>(intAcc)));
                else
                    tokens.push_back(ClientData::real(client_, floatAcc));
                if (!atEnd && isOperatorChar(c)) {
                    if (debug_)
                        std::printf("Found an opperator\n");
                    state = 3;
                    advance = false;
                } else if (c == '(') {
                    if (debug_)
                        std::printf("Found a parens\n");
                    mark = i + 1;
                    depth = 1;
                    state = 4;
                } else {
                    state = 0;
                }
            } else if (isInteger) {
                if (c == '.') {
                    if (debug_)
                        std::printf("Making it a double\n");
                    floatAcc = static_cast<std::int32_t>(intAcc);
                    isInteger = false;
                    divisor = 10.0;
                } else if (hex && hexValue(c) >= 0) {
                    intAcc = intAcc * 16 + static_cast<std::uint32_t>(hexValue(c));
                } else if (isDigit(c)) {
                    if (debug_)
                        std::printf("Adding a digit to the int\n");
                    intAcc = intAcc * 10 + static_cast<std::uint32_t>(c - '0');
                } else if (c == 'x' && intAcc == 0) {
                    hex = true;
                } else {
                    std::printf("Error: Bad number.  Found char '%c' in an int\n", c);
                    return fail();
                }
            } else if (isDigit(c)) {
                if (debug_)
                    std::printf("Adding a decimal place\n");
                floatAcc += (c - '0') / divisor;
                divisor *= 10.0;
            } else {
                std::printf("Error: Bad number.  Found char '%c' in an float\n", c);
                return fail();
            }
            break;

        case 2:
        case 7:
        case 8:
        case 9:
            if (!atEnd && isLetter(c)) {
                if (state == 7) {
                    state = 8;
                } else if (state == 9) {
                    std::printf("Error: Letters after a ]\n");
                    state = 8;
                }
            } else if (c == '.') {
                if (state == 7) {
                    std::printf("ERROR: 2 '.' follow eachother.  Bad\n");
                    return fail();
                }
                if (debug_) {
                    std::string_view name = block(i);
                    std::printf("Found variable block '%.*s' followed by a '.' \n", len(name), name.data());
                }
                if (!emit(i))
                    return fail();
                mark = i + 1;
                state = 7;
            } else if (c == '[') {
                if (state == 7) {
                    std::printf("ERROR: .[] is invalid syntax\n");
                    return fail();
                }
                if (!emit(i))
                    return fail();
                mark = i + 1;
                depth = 1;
                state = 6;
            } else if (!atEnd && isOperatorChar(c)) {
                if (state == 7) {
                    std::printf("ERROR: Can't access the '%c' element of the structure.\n", c);
                    return fail();
                }
                if (state == 9) {
                    if (debug_)
                        std::printf("Adding something to our indexed variable\n");
                } else if (debug_) {
                    std::string_view name = block(i);
                    std::printf("Found variable '%.*s'\n", len(name), name.data());
                }
                if (!emit(i))
                    return fail();
                state = 3;
                advance = false;
            } else if (atEnd || isSpace(c)) {
                if (state == 2 || state == 8) {
                    if (debug_) {
                        std::string_view name = block(i);
                        std::printf("Found variable '%.*s'\n", len(name), name.data());
                    }
                    if (!emit(i))
                        return fail();
                    mark = i + 1;
                    state = 5;
                } else if (debug_) {
                    std::printf("Found a space after a '.' or a ']'.  Defering judgement\n");
                }
            } else if (c == '(') {
                if (debug_)
                    std::printf("Function!\n");
                if (state == 7 || state == 9) {
                    std::printf("ERROR: Can't access the '%c' element of the structure.\n", c);
                    return fail();
                }
                if (!emit(i))
                    return fail();
                mark = i + 1;
                depth = 1;
                state = 10;
            } else if (debug_) {
                std::printf("Found a var?\n");
            }
            break;

        case 5:
            if (atEnd)
                break;
            if (c == '.') {
                if (debug_)
                    std::printf("Found a .\n");
                mark = i + 1;
                state = 7;
            } else if (c == '[') {
                if (debug_)
                    std::printf("Found a [\n");
                mark = i + 1;
                depth = 1;
                state = 6;
            } else if (isOperatorChar(c)) {
                state = 3;
                advance = false;
            } else if (isSpace(c)) {
                // blanks between a name and what follows it
            } else if (c == '(') {
                if (debug_)
                    std::printf("Function!\n");
                mark = i + 1;
                depth = 1;
                state = 10;
            } else {
                std::printf("Error: No spaces allowed between tokens\n");
                return fail();
            }
            break;

        case 6:
            if (atEnd) {
                std::printf("Error: Brackets don't close out\n");
                return fail();
            }
            if (c == '[') {
                ++depth;
            } else if (c == ']' && --depth == 0) {
                std::string_view inside = text.substr(mark, i - mark);
                if (debug_)
                    std::printf("Found block '%.*s'\n", len(inside), inside.data());
                NodePtr index = compileText(inside, nesting + 1);
                NodePtr array = pop();
                NodePtr node = ClientData::index(client_, std::move(index), std::move(array));
                if (tooTall(node))
                    return fail();
                tokens.push_back(std::move(node));
                mark = i + 1;
                state = 9;
            }
            break;

        case 4:
        case 10:
            if (atEnd) {
                std::printf("Error: Found end of string before finding the end of parenthases.\n");
                return fail();
            }
            if (c == '(') {
                ++depth;
                if (debug_)
                    std::printf("Open parens %d\n", depth);
            } else if (c == ')') {
                if (debug_)
                    std::printf("Close parens %d\n", depth);
                if (--depth != 0)
                    break;
                std::string_view inside = text.substr(mark, i - mark);
                if (debug_)
                    std::printf("Found block '%.*s'\n", len(inside), inside.data());
                if (state == 4) {
                    tokens.push_back(compileText(inside, nesting + 1));
                    state = 0;
                    break;
                }
                NodePtr named = pop();
                NodePtr fn = ClientData::function(client_, named ? named->string() : std::string());
                for (const std::string& piece : splitArguments(inside)) {
                    if (debug_)
                        std::printf("Recursing on '%s'\n", piece.c_str());
                    fn->addArg(compileText(piece, nesting + 1));
                }
                if (debug_)
                    std::printf("Done recursing\n");
                fn->simplify();
                if (tooTall(fn))
                    return fail();
                tokens.push_back(std::move(fn));
                state = 0;
            }
            break;

        case 3:
            if (c == '(') {
                if (debug_)
                    std::printf("Start of parens\n");
                mark = i + 1;
                depth = 1;
                state = 4;
            } else if (!atEnd && isSpace(c)) {
                if (debug_)
                    std::printf("Ignoring space\n");
            } else if (!atEnd && isOperatorChar(c)) {
                remembered = c;
                state = 13;
            } else {
                if (debug_)
                    std::printf("Letting the main case handle this.  Relooping\n");
                state = 0;
                advance = false;
            }
            break;

        case 13: {
            if (c == '=' || c == '&' || c == '|')
                std::printf("'%c'\n", c);
            char pair = 0;
            if (remembered == '<' && c == '=')
                pair = 'L';
            else if (remembered == '>' && c == '=')
                pair = 'G';
            else if (remembered == '&' && c == '&')
                pair = 'A';
            else if (remembered == '|' && c == '|')
                pair = 'O';
            else if (remembered == '=' && c == '=')
                pair = 'E';
            if (pair) {
                if (debug_)
                    std::printf("Pushing a double opperator\n");
                tokens.push_back(ClientData::op(client_, pair));
            } else if (c == '=' || c == '&' || c == '|') {
                // Pairs such as "+=" are not operators: both characters go.
            } else {
                if (debug_)
                    std::printf("Pushing a single opperator\n");
                tokens.push_back(ClientData::op(client_, remembered));
                advance = false;
            }
            state = 0;
            break;
        }

        case 11:
            if (c == '\\') {
                state = 12;
            } else if (c == '"') {
                std::string_view literal = text.substr(mark, i - mark);
                if (debug_)
                    std::printf("Found string block '%.*s' \n", len(literal), literal.data());
                tokens.push_back(ClientData::string(client_, literal));
                state = 0;
            }
            // A literal still open at the end of the text is dropped.
            break;

        case 12: state = 11; break;
        }

        if (advance)
            ++i;
    }

    return applyPrecedence(tokens);
}

NodePtr Compiler::applyPrecedence(std::vector<NodePtr>& tokens)
{
    auto infixError = [] {
        std::printf("Error: Can't do infix math without something on both sides of the opperator.\n");
        return ClientData::error(nullptr);
    };
    auto tooTall = [](const NodePtr& node) {
        if (node->height() <= kMaxHeight)
            return false;
        std::printf("Error: Expression nests too deeply\n");
        return true;
    };

    // Each level is one walk over the list from the front. The walk copies
    // what it keeps into `out`, so the entry before an operator is out's last
    // and the list shrinks without moving its tail for every operator.
    std::vector<NodePtr> out;
    for (int level = 0; level <= ClientData::maxOrder() && tokens.size() > 1; ++level) {
        out.clear();
        out.reserve(tokens.size());
        std::size_t i = 0;
        while (i < tokens.size()) {
            if (out.size() + (tokens.size() - i) <= 1) {
                out.push_back(std::move(tokens[i++]));
                continue;
            }
            NodePtr& t = tokens[i];
            if (t->type() != NodeKind::Operator || t->order() != level || t->hasArgs()) {
                out.push_back(std::move(t));
                ++i;
                continue;
            }
            const bool first = out.empty();
            const bool last = i + 1 == tokens.size();
            if (first || last) {
                if (t->opperator() != '-' || last)
                    return infixError();
                t->addArg(std::move(tokens[i + 1]));
            } else {
                t->addArg(std::move(out.back()));
                out.pop_back();
                t->addArg(std::move(tokens[i + 1]));
            }
            t->simplify();
            if (tooTall(t))
                return ClientData::error(nullptr);
            out.push_back(std::move(t));
            i += 2;
        }
        tokens.swap(out);
    }

    if (tokens.size() != 1)
        return ClientData::error(nullptr);
    if (debug_)
        std::printf("Found token '%s'\n", tokens.front()->string().c_str());
    return tokens.front();
}

std::vector<std::string> Compiler::splitArguments(std::string_view text)
{
    std::string_view t = trimmed(text);
    std::vector<std::string> pieces;
    bool inString = false;
    bool escaped = false;
    int brackets = 0;
    int parens = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        bool splitting = false;
        if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '"') {
            inString = !inString;
        } else if (c == '[' || c == '(') {
            ++(c == '[' ? brackets : parens);
        } else if (c == ']' || c == ')') {
            if (--(c == ']' ? brackets : parens) < 0) {
                std::printf("Error, wrong number of parenthasees\n");
                return {"\"error\""};
            }
        } else if (c == ',' && !inString && brackets == 0 && parens == 0) {
            pieces.emplace_back(t.substr(start, i - start));
            start = i + 1;
            splitting = true;
        }
        if (i + 1 == t.size() && !splitting && brackets == 0 && parens == 0 && !inString)
            pieces.emplace_back(t.substr(start));
    }
    return pieces;
}

} // namespace fieldmon::expr
