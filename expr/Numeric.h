#pragma once
// Arithmetic shared by the two evaluators of expression trees (the general
// one over Values, the numeric ones over plain numbers): the operations of
// each operator on integers and doubles, and the number type of the numeric
// paths (the built-in functions are in Builtins.h). Internal to expr/.
//
// Thread rule: pure functions; any thread.

#include "expr/Operator.h"
#include "variables/Value.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace fieldmon::expr {

class Node;
class Scope;

inline constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

// Whether the arithmetic below has the operator; a choice is evaluated by
// its own path, and "=" or no operator at all is an error.
[[gnu::always_inline]] inline bool isValidOperator(Operator op)
{
    switch (op) {
    case Operator::Add:
    case Operator::Subtract:
    case Operator::Multiply:
    case Operator::Divide:
    case Operator::Remainder:
    case Operator::BitAnd:
    case Operator::BitOr:
    case Operator::Less:
    case Operator::Greater:
    case Operator::LessEqual:
    case Operator::GreaterEqual:
    case Operator::And:
    case Operator::Or:
    case Operator::Equal:
    case Operator::Choose:
    case Operator::Branches: return true;
    case Operator::None:
    case Operator::Assign: break;
    }
    return false;
}

// 32-bit arithmetic that wraps instead of overflowing.
inline std::int32_t wrapAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapSub(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapMul(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapNeg(std::int32_t a)
{
    return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
}

// Integer operation; false when the result is an error (division or
// remainder by zero, INT_MIN / -1, an operator integers do not have).
[[gnu::always_inline]] inline bool applyInt(Operator op, std::int32_t a, std::int32_t b, std::int32_t& r)
{
    switch (op) {
    case Operator::Add: r = wrapAdd(a, b); return true;
    case Operator::Subtract: r = wrapSub(a, b); return true;
    case Operator::Multiply: r = wrapMul(a, b); return true;
    case Operator::Divide:
        if (b == 0 || (a == kIntMin && b == -1))
            return false;
        r = a / b;
        return true;
    case Operator::Remainder:
        if (b == 0)
            return false;
        r = b == -1 ? 0 : a % b;
        return true;
    case Operator::BitAnd: r = a & b; return true;
    case Operator::BitOr: r = a | b; return true;
    case Operator::And: r = (a != 0 && b != 0) ? 1 : 0; return true;
    case Operator::Or: r = (a != 0 || b != 0) ? 1 : 0; return true;
    case Operator::Less: r = a < b; return true;
    case Operator::Greater: r = a > b; return true;
    case Operator::LessEqual: r = a <= b; return true;
    case Operator::GreaterEqual: r = a >= b; return true;
    case Operator::Equal: r = a == b; return true;
    case Operator::Branches: r = a; return true;
    case Operator::Choose:
    case Operator::Assign:
    case Operator::None: break;
    }
    return false;
}

// Double operation; false for an operator doubles do not have (the bit and
// logical ones, which make the result an error).
[[gnu::always_inline]] inline bool applyDouble(Operator op, double a, double b, double& r)
{
    switch (op) {
    case Operator::Add: r = a + b; return true;
    case Operator::Subtract: r = a - b; return true;
    case Operator::Multiply: r = a * b; return true;
    case Operator::Divide: r = a / b; return true;
    case Operator::Remainder: {
        double q = a / b;
        r = (q - std::trunc(q)) * b;
        return true;
    }
    case Operator::Less: r = a < b ? 1.0 : 0.0; return true;
    case Operator::Greater: r = a > b ? 1.0 : 0.0; return true;
    case Operator::LessEqual: r = a <= b ? 1.0 : 0.0; return true;
    case Operator::GreaterEqual: r = a >= b ? 1.0 : 0.0; return true;
    case Operator::Equal: r = a == b ? 1.0 : 0.0; return true;
    case Operator::Branches: r = a; return true;
    case Operator::BitAnd:
    case Operator::BitOr:
    case Operator::And:
    case Operator::Or:
    case Operator::Choose:
    case Operator::Assign:
    case Operator::None: break;
    }
    return false;
}

// A number on the numeric path, or the sign to give up. Small enough to be
// returned in registers (a double and a word): the path never stores a
// number to memory piecemeal and reads it back whole, which stalls.
struct Num {
    enum Tag : std::uint8_t { Int, Dbl, Fail };
    double d;
    std::int32_t i;
    Tag tag;
    static Num ofInt(std::int32_t v) { return {0.0, v, Int}; }
    static Num ofDouble(double v) { return {v, 0, Dbl}; }
    static Num fail() { return {0.0, 0, Fail}; }
    bool failed() const { return tag == Fail; }
    bool isInt() const { return tag == Int; }
    double asDouble() const { return tag == Int ? static_cast<double>(i) : d; }
    Value value() const { return tag == Int ? Value::integer(i) : Value::real(d); }
};

// The numeric value of a node, or Num::fail() where the general path must
// take over (before anything visible has happened).
Num evaluateNumber(Node& n, Scope* env);

} // namespace fieldmon::expr
