// The character machine of the expression compiler: one member function per
// state.
#include "expr/CompilerWalk.h"

#include "platform/Ascii.h"
#include "platform/Diagnostics.h"

namespace fieldmon::expr {

namespace {

using ascii::hexValue;
using ascii::isDigit;
using ascii::isLetter;
using ascii::isSpace;

bool isOperatorChar(char c)
{
    return operatorFromChar(c) != Operator::None;
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

// printf's %s of a piece of text (which is not NUL-terminated).
int len(std::string_view s)
{
    return static_cast<int>(s.size());
}

} // namespace

bool Compiler::Walk::tooTall(const NodePtr& node)
{
    if (node->height() <= Compiler::kMaxHeight)
        return false;
    diag("Error: Expression nests too deeply\n");
    return true;
}

std::string_view Compiler::Walk::trimmed(std::string_view s)
{
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool Compiler::Walk::run()
{
    const std::size_t n = text_.size();
    while (pos_ <= n) {
        const bool atEnd = pos_ == n;
        const char c = atEnd ? '\0' : text_[pos_];
        if (debug_)
            diag("State = %d '%c'\n", static_cast<int>(state_), c);
        Step step = Step::Next;
        switch (state_) {
        case State::Between: step = between(c, atEnd); break;
        case State::Number: step = number(c, atEnd); break;
        case State::Name:
        case State::AfterDot:
        case State::Element:
        case State::AfterIndex: step = name(c, atEnd); break;
        case State::Operator: step = operatorStart(c, atEnd); break;
        case State::Group:
        case State::Call: step = parenthesised(c, atEnd); break;
        case State::AfterName: step = afterName(c, atEnd); break;
        case State::Index: step = index(c, atEnd); break;
        case State::SecondOp: step = operatorSecond(c); break;
        case State::String: step = string(c); break;
        case State::Escape: state_ = State::String; break;
        }
        if (step == Step::Fail)
            return false;
        if (step == Step::Next)
            ++pos_;
    }
    return true;
}

Compiler::Walk::Step Compiler::Walk::between(char c, bool atEnd)
{
    if (atEnd)
        return Step::Next;
    if (c == '(') {
        note("Found a (");
        open(State::Group);
    } else if (isLetter(c)) {
        note("Found a char");
        mark_ = pos_;
        state_ = State::Name;
    } else if (isDigit(c) || c == '.') {
        note("Found a number");
        isInteger_ = true;
        hex_ = false;
        intAcc_ = 0;
        floatAcc_ = 0.0;
        state_ = State::Number;
        return Step::Reloop;
    } else if (isOperatorChar(c)) {
        note("Found a symbol.  Relooping");
        state_ = State::Operator;
        return Step::Reloop;
    } else if (c == '"') {
        note("Found a string");
        mark_ = pos_ + 1;
        state_ = State::String;
    }
    // Anything else (white space, ")", "]", ",", "!" ...) is ignored.
    return Step::Next;
}

Compiler::Walk::Step Compiler::Walk::number(char c, bool atEnd)
{
    if (endsNumber(c, atEnd))
        return endOfNumber(c, atEnd);
    if (isInteger_)
        return digit(c);
    if (!isDigit(c)) {
        diag("Error: Bad number.  Found char '%c' in an float\n", c);
        return Step::Fail;
    }
    note("Adding a decimal place");
    floatAcc_ += (c - '0') / divisor_;
    divisor_ *= 10.0;
    return Step::Next;
}

Compiler::Walk::Step Compiler::Walk::endOfNumber(char c, bool atEnd)
{
    note("Found an end signifier.");
    if (isInteger_)
        tokens.push_back(Node::integer(compiler_.client_, static_cast<std::int32_t>(intAcc_)));
    else
        tokens.push_back(Node::real(compiler_.client_, floatAcc_));
    if (!atEnd && isOperatorChar(c)) {
        note("Found an opperator");
        state_ = State::Operator;
        return Step::Reloop;
    }
    if (c == '(') {
        note("Found a parens");
        open(State::Group);
        return Step::Next;
    }
    state_ = State::Between;
    return Step::Next;
}

// A character of a number that is still an integer.
Compiler::Walk::Step Compiler::Walk::digit(char c)
{
    if (c == '.') {
        note("Making it a double");
        floatAcc_ = static_cast<std::int32_t>(intAcc_);
        isInteger_ = false;
        divisor_ = 10.0;
    } else if (hex_ && hexValue(c) >= 0) {
        intAcc_ = intAcc_ * 16 + static_cast<std::uint32_t>(hexValue(c));
    } else if (isDigit(c)) {
        note("Adding a digit to the int");
        intAcc_ = intAcc_ * 10 + static_cast<std::uint32_t>(c - '0');
    } else if (c == 'x' && intAcc_ == 0) {
        hex_ = true;
    } else {
        diag("Error: Bad number.  Found char '%c' in an int\n", c);
        return Step::Fail;
    }
    return Step::Next;
}

Compiler::Walk::Step Compiler::Walk::name(char c, bool atEnd)
{
    const bool afterDot = state_ == State::AfterDot;
    const bool afterIndex = state_ == State::AfterIndex;
    if (!atEnd && isLetter(c)) {
        if (afterDot) {
            state_ = State::Element;
        } else if (afterIndex) {
            diag("Error: Letters after a ]\n");
            state_ = State::Element;
        }
        return Step::Next;
    }
    if (c == '.') {
        if (afterDot) {
            diag("ERROR: 2 '.' follow eachother.  Bad\n");
            return Step::Fail;
        }
        if (debug_) {
            std::string_view name = block();
            diag("Found variable block '%.*s' followed by a '.' \n", len(name), name.data());
        }
        if (!emitName())
            return Step::Fail;
        mark_ = pos_ + 1;
        state_ = State::AfterDot;
        return Step::Next;
    }
    if (c == '[') {
        if (afterDot) {
            diag("ERROR: .[] is invalid syntax\n");
            return Step::Fail;
        }
        if (!emitName())
            return Step::Fail;
        open(State::Index);
        return Step::Next;
    }
    if (!atEnd && isOperatorChar(c)) {
        if (afterDot) {
            diag("ERROR: Can't access the '%c' element of the structure.\n", c);
            return Step::Fail;
        }
        if (afterIndex) {
            note("Adding something to our indexed variable");
        } else if (debug_) {
            std::string_view name = block();
            diag("Found variable '%.*s'\n", len(name), name.data());
        }
        if (!emitName())
            return Step::Fail;
        state_ = State::Operator;
        return Step::Reloop;
    }
    if (atEnd || isSpace(c)) {
        if (afterDot || afterIndex) {
            note("Found a space after a '.' or a ']'.  Defering judgement");
            return Step::Next;
        }
        if (debug_) {
            std::string_view name = block();
            diag("Found variable '%.*s'\n", len(name), name.data());
        }
        if (!emitName())
            return Step::Fail;
        mark_ = pos_ + 1;
        state_ = State::AfterName;
        return Step::Next;
    }
    if (c == '(') {
        note("Function!");
        if (afterDot || afterIndex) {
            diag("ERROR: Can't access the '%c' element of the structure.\n", c);
            return Step::Fail;
        }
        if (!emitName())
            return Step::Fail;
        open(State::Call);
        return Step::Next;
    }
    note("Found a var?"); // digits, "_", ")", "]" ... are part of the name
    return Step::Next;
}

Compiler::Walk::Step Compiler::Walk::afterName(char c, bool atEnd)
{
    if (atEnd || isSpace(c))
        return Step::Next; // the end of the text ends the expression normally
    if (c == '.') {
        note("Found a .");
        mark_ = pos_ + 1;
        state_ = State::AfterDot;
        return Step::Next;
    }
    if (c == '[') {
        note("Found a [");
        open(State::Index);
        return Step::Next;
    }
    if (isOperatorChar(c)) {
        state_ = State::Operator;
        return Step::Reloop;
    }
    if (c == '(') {
        // The name before the blanks becomes the function's name.
        note("Function!");
        open(State::Call);
        return Step::Next;
    }
    diag("Error: No spaces allowed between tokens\n");
    return Step::Fail;
}

Compiler::Walk::Step Compiler::Walk::index(char c, bool atEnd)
{
    if (atEnd) {
        diag("Error: Brackets don't close out\n");
        return Step::Fail;
    }
    if (c == '[') {
        ++depth_;
        return Step::Next;
    }
    if (c != ']' || --depth_ != 0)
        return Step::Next;
    // The index text is not trimmed.
    std::string_view inside = text_.substr(mark_, pos_ - mark_);
    if (debug_)
        diag("Found block '%.*s'\n", len(inside), inside.data());
    NodePtr index = compiler_.compileText(inside, nesting_ + 1);
    NodePtr array = pop();
    if (!push(Node::index(compiler_.client_, std::move(index), std::move(array))))
        return Step::Fail;
    mark_ = pos_ + 1;
    state_ = State::AfterIndex;
    return Step::Next;
}

Compiler::Walk::Step Compiler::Walk::parenthesised(char c, bool atEnd)
{
    if (atEnd) {
        diag("Error: Found end of string before finding the end of parenthases.\n");
        return Step::Fail;
    }
    if (c == '(') {
        ++depth_;
        if (debug_)
            diag("Open parens %d\n", depth_);
        return Step::Next;
    }
    if (c != ')')
        return Step::Next;
    if (debug_)
        diag("Close parens %d\n", depth_);
    if (--depth_ != 0)
        return Step::Next;
    std::string_view inside = text_.substr(mark_, pos_ - mark_);
    if (debug_)
        diag("Found block '%.*s'\n", len(inside), inside.data());
    if (state_ == State::Call)
        return call(inside);
    tokens.push_back(compiler_.compileText(inside, nesting_ + 1));
    state_ = State::Between;
    return Step::Next;
}

// The closing parenthesis of a call: the name pushed at "(" names the
// function, and each argument is compiled on its own.
Compiler::Walk::Step Compiler::Walk::call(std::string_view inside)
{
    NodePtr named = pop();
    NodePtr fn = Node::function(compiler_.client_, named ? named->string() : std::string());
    for (const std::string& piece : splitArguments(inside)) {
        if (debug_)
            diag("Recursing on '%s'\n", piece.c_str());
        fn->addArg(compiler_.compileText(piece, nesting_ + 1));
    }
    note("Done recursing");
    fn->simplify();
    if (!push(std::move(fn)))
        return Step::Fail;
    state_ = State::Between;
    return Step::Next;
}

Compiler::Walk::Step Compiler::Walk::operatorStart(char c, bool atEnd)
{
    if (c == '(') {
        note("Start of parens");
        open(State::Group);
    } else if (!atEnd && isSpace(c)) {
        note("Ignoring space");
    } else if (!atEnd && isOperatorChar(c)) {
        remembered_ = c;
        state_ = State::SecondOp;
    } else {
        note("Letting the main case handle this.  Relooping");
        state_ = State::Between;
        return Step::Reloop;
    }
    return Step::Next;
}

Compiler::Walk::Step Compiler::Walk::operatorSecond(char c)
{
    // Written always, not only in debug mode.
    if (c == '=' || c == '&' || c == '|')
        diag("'%c'\n", c);
    state_ = State::Between;
    const Operator pair = operatorFromPair(remembered_, c);
    if (pair != Operator::None) {
        note("Pushing a double opperator");
        tokens.push_back(Node::op(compiler_.client_, pair));
        return Step::Next;
    }
    if (c == '=' || c == '&' || c == '|')
        return Step::Next; // pairs such as "+=" are not operators: both characters go
    note("Pushing a single opperator");
    tokens.push_back(Node::op(compiler_.client_, operatorFromChar(remembered_)));
    return Step::Reloop;
}

Compiler::Walk::Step Compiler::Walk::string(char c)
{
    if (c == '\\') {
        state_ = State::Escape;
    } else if (c == '"') {
        std::string_view literal = text_.substr(mark_, pos_ - mark_);
        if (debug_)
            diag("Found string block '%.*s' \n", len(literal), literal.data());
        tokens.push_back(Node::string(compiler_.client_, literal));
        state_ = State::Between;
    }
    // A literal still open at the end of the text is dropped.
    return Step::Next;
}

bool Compiler::Walk::emitName()
{
    if (state_ == State::Name) {
        tokens.push_back(Node::variable(compiler_.client_, std::string(block())));
        return true;
    }
    if (state_ != State::Element)
        return true;
    std::string name(block());
    NodePtr structure = pop();
    return push(Node::element(compiler_.client_, std::move(name), std::move(structure)));
}

bool Compiler::Walk::push(NodePtr node)
{
    if (tooTall(node))
        return false;
    tokens.push_back(std::move(node));
    return true;
}

NodePtr Compiler::Walk::pop()
{
    if (tokens.empty())
        return nullptr;
    NodePtr n = std::move(tokens.back());
    tokens.pop_back();
    return n;
}

} // namespace fieldmon::expr
