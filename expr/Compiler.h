#pragma once
// Compiler: turns the text of an expression into a tree of Node nodes.
//
// A hand-written character state machine walks the text once and produces a
// flat list of tokens that are already nodes: numbers, strings, names,
// operators, and the results of compiling parenthesised groups, array indexes
// and function arguments recursively. A structure element, an array index or
// a function call takes the node just before it off the end of the list as
// its operand. A precedence pass then folds the operators into the tree,
// level by level (0 binds tightest, 6 loosest), each level left to right, so
// operators of one level associate from the left; a "-" at the front of the
// list is unary. Every operator and function node is constant-folded as soon
// as it is built.
//
// The compiler never fails by raising: any malformed text gives a fresh error
// node, after its message has been printed. Unknown names are not errors
// here; they are resolved when the expression is evaluated. The device's
// debug flag switches on a trace of every step; it never changes the result.
//
// Texts come from device documents, so the recursion is bounded: groups,
// indexes and calls nest at most kMaxNesting deep, and no tree may grow
// taller than kMaxHeight (evaluation and destruction recurse over it). A text
// beyond either bound, or longer than kMaxLength characters (which bounds the
// memory its tokens take), compiles to the error node.
//
// Thread rule: main thread only (it prints, and folding evaluates).

#include "expr/Node.h"

#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::expr {

class Compiler {
public:
    static constexpr int kMaxNesting = 64;
    static constexpr std::uint32_t kMaxHeight = 256;
    static constexpr std::size_t kMaxLength = 65536;

    // Always a node; the error node for malformed text. `client` may be null
    // (no device: names then never resolve).
    static NodePtr compile(const ClientPtr& client, std::string_view text);

    // Splits a function's argument text at top-level commas (outside string
    // literals, brackets and parentheses). A blank text gives no pieces; a
    // closing bracket or parenthesis too many gives the one piece "\"error\"".
    static std::vector<std::string> splitArguments(std::string_view text);

private:
    // One walk of the character machine over one text (Compiler.cpp).
    class Walk;

    Compiler(const ClientPtr& client, bool debug) : client_(client), debug_(debug) {}
    NodePtr compileText(std::string_view text, int nesting);
    NodePtr applyPrecedence(std::vector<NodePtr>& tokens);

    const ClientPtr& client_;
    bool debug_;
};

} // namespace fieldmon::expr
