#include "expr/Compiler.h"

#include "expr/CompilerWalk.h"
#include "platform/Diagnostics.h"


namespace fieldmon::expr {

NodePtr Compiler::compileText(std::string_view text, int nesting)
{
    if (nesting > kMaxNesting) {
        diag("Error: Expression nests too deeply\n");
        return Node::error(nullptr);
    }
    if (debug_)
        diag("Evaluating expression '%.*s'\n", static_cast<int>(text.size()), text.data());
    Walk walk(*this, text, nesting);
    if (!walk.run())
        return Node::error(nullptr);
    return applyPrecedence(walk.tokens);
}

NodePtr Compiler::compile(const ClientPtr& client, std::string_view text)
{
    // The text is a C text for the machine: it ends at its first NUL.
    std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    if (text.size() > kMaxLength) {
        diag("Error: Expression too long\n");
        return Node::error(nullptr);
    }
    Compiler c(client, client && client->debug());
    return c.compileText(text, 0);
}

NodePtr Compiler::applyPrecedence(std::vector<NodePtr>& tokens)
{
    auto infixError = [] {
        diag("Error: Can't do infix math without something on both sides of the opperator.\n");
        return Node::error(nullptr);
    };
    // Each level is one walk over the list from the front. The walk copies
    // what it keeps into `out`, so the entry before an operator is out's last
    // and the list shrinks without moving its tail for every operator.
    std::vector<NodePtr> out;
    for (int level = 0; level <= Node::maxOrder() && tokens.size() > 1; ++level) {
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
                if (t->operatorKind() != Operator::Subtract || last)
                    return infixError();
                t->addArg(std::move(tokens[i + 1]));
            } else {
                t->addArg(std::move(out.back()));
                out.pop_back();
                t->addArg(std::move(tokens[i + 1]));
            }
            t->simplify();
            if (Walk::tooTall(t))
                return Node::error(nullptr);
            out.push_back(std::move(t));
            i += 2;
        }
        tokens.swap(out);
    }

    if (tokens.size() != 1)
        return Node::error(nullptr);
    if (debug_)
        diag("Found token '%s'\n", tokens.front()->string().c_str());
    return tokens.front();
}

std::vector<std::string> Compiler::splitArguments(std::string_view text)
{
    std::string_view t = Walk::trimmed(text);
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
                diag("Error, wrong number of parenthasees\n");
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
