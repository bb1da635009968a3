#pragma once
// Compiler::Walk: one walk of the expression compiler's character machine
// over one text, producing the flat token list that the precedence pass folds
// (Compiler.h describes the language). Internal to the compiler.
//
// Thread rule: main thread only.

#include "expr/Compiler.h"
#include "platform/Diagnostics.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace fieldmon::expr {

// The walk keeps what the machine remembers between characters: its state,
// the mark (start of the current piece), the nesting depth of brackets, the
// number being read and the first character of an operator. Each state is
// one member function that looks at the character at pos_.
class Compiler::Walk {
public:
    Walk(Compiler& compiler, std::string_view text, int nesting)
        : compiler_(compiler), text_(text), nesting_(nesting), debug_(compiler.debug_)
    {
    }

    // Runs the machine to the end of the text: false after an error message.
    bool run();
    std::vector<NodePtr> tokens;

    // An error message and true when `node` makes the tree too tall.
    static bool tooTall(const NodePtr& node);
    // Without white space and line ends at either end.
    static std::string_view trimmed(std::string_view s);

private:
    // The states of the character machine. Their numbers are what the debug
    // trace prints ("State = %d").
    enum class State : int {
        Between = 0,    // between tokens
        Number = 1,     // inside a number
        Name = 2,       // inside a plain name
        Operator = 3,   // at an operator character
        Group = 4,      // inside a parenthesised group
        AfterName = 5,  // after a name and white space
        Index = 6,      // inside an array index
        AfterDot = 7,   // right after a "."
        Element = 8,    // inside an element name after a "."
        AfterIndex = 9, // right after a closing "]"
        Call = 10,      // inside a function call's parentheses
        String = 11,    // inside a string literal
        Escape = 12,    // after a backslash in a string literal
        SecondOp = 13,  // at the second character of an operator
    };

    // What a state did with the character: go on to the next one, look at the
    // same one again in the new state, or give up (its message is printed).
    enum class Step { Next, Reloop, Fail };

    Step between(char c, bool atEnd);
    Step number(char c, bool atEnd);
    Step endOfNumber(char c, bool atEnd);
    Step digit(char c);
    Step name(char c, bool atEnd); // the name states: Name, AfterDot, Element, AfterIndex
    Step afterName(char c, bool atEnd);
    Step index(char c, bool atEnd);
    Step parenthesised(char c, bool atEnd); // Group and Call
    Step call(std::string_view inside);
    Step operatorStart(char c, bool atEnd);
    Step operatorSecond(char c);
    Step string(char c);

    // Moves to `next` with the mark just after the current character and,
    // for bracketed states, a depth of 1.
    void open(State next)
    {
        mark_ = pos_ + 1;
        depth_ = 1;
        state_ = next;
    }
    // The text from the mark to the current position, trimmed.
    std::string_view block() const { return trimmed(text_.substr(mark_, pos_ - mark_)); }
    // Pushes the name that ends here: a variable (Name), an element of the
    // node before it (Element), or nothing (AfterDot, AfterIndex).
    bool emitName();
    // Pushes a node; false when it makes the tree too tall.
    bool push(NodePtr node);
    NodePtr pop();
    void note(const char* text) const
    {
        if (debug_)
            diag("%s\n", text);
    }

    Compiler& compiler_;
    std::string_view text_;
    int nesting_;
    bool debug_;
    State state_ = State::Between;
    std::size_t pos_ = 0;
    std::size_t mark_ = 0;
    int depth_ = 0;
    std::uint32_t intAcc_ = 0; // 32-bit, wrapping
    double floatAcc_ = 0.0;
    double divisor_ = 10.0;
    bool isInteger_ = true;
    bool hex_ = false;
    char remembered_ = 0;
};

} // namespace fieldmon::expr
