#pragma once
// Builtins: the expression language's built-in functions, in one table.
// Each entry gives a function's name, its argument count (-1: any), its
// general evaluation over Values (with every message and error rule), and,
// for functions that compute a number from numbers, its numeric step, which
// the allocation-free paths (the numeric tree walk and NumericProgram) use.
// The evaluator, the numeric program and the device simulator's expression
// check all read this table, so adding a function is one entry here and its
// evaluation in Builtins.cpp.
//
// A call with the wrong number of arguments is not the function's business:
// the evaluator prints "Error: %d args to %s\n" and the call node becomes an
// error for good. A name not in the table evaluates to nothing.
//
// Thread rule: a constant table and pure functions; any thread (the general
// evaluations run expressions, so main thread only).

#include "expr/Numeric.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::expr {

class Node;
class Scope;

// The arguments of one call as a general evaluation sees them: each is
// evaluated when asked for, in the caller's scope.
class CallArguments {
public:
    // `cutReported` is the calling node's own flag: a function whose output
    // is cut says so once per node (null: every time).
    CallArguments(const std::vector<std::shared_ptr<Node>>& args, Scope* env,
                  bool* cutReported = nullptr)
        : args_(args), env_(env), cutReported_(cutReported)
    {
    }
    // True the first time a call of this node cuts its output.
    bool firstCut() const
    {
        if (!cutReported_)
            return true;
        bool first = !*cutReported_;
        *cutReported_ = true;
        return first;
    }
    std::size_t size() const { return args_.size(); }
    // The argument's value (nothing for a call of an unknown function).
    Value value(std::size_t k) const;
    // The argument's text value.
    std::string text(std::size_t k) const;

private:
    const std::vector<std::shared_ptr<Node>>& args_;
    Scope* env_;
    bool* cutReported_;
};

// The numeric form of a function: the value from the first argument, then
// each further argument folded in (one-argument functions have no fold).
// A call without arguments gives the integer 0, as max() does. The flags say
// which parts there are, because some compilers (with sanitizers) cannot
// compare a function's address with null at compile time.
struct NumericStep {
    enum class Result : std::uint8_t {
        Like, // like the arguments: an integer when every one is, else a double
        Integer,
        Double,
    };
    Num (*first)(Num) = nullptr;
    Num (*fold)(Num acc, Num next) = nullptr;
    Result result = Result::Like;
    bool hasFirst = false; // false: no numeric form
    bool hasFold = false;

    constexpr bool exists() const { return hasFirst; }
    constexpr bool folds() const { return hasFold; }

    static constexpr NumericStep none() { return {}; }
    static constexpr NumericStep of(Num (*first)(Num), Result r) { return {first, nullptr, r, true, false}; }
    static constexpr NumericStep folding(Num (*first)(Num), Num (*fold)(Num, Num), Result r)
    {
        return {first, fold, r, true, true};
    }
};

struct Builtin {
    std::string_view name;
    int arity; // -1: any number
    Value (*general)(const CallArguments& args);
    NumericStep numeric;
};

// --- Numeric steps -------------------------------------------------------------------

namespace numeric {

inline Num same(Num v)
{
    return v;
}
inline Num greater(Num acc, Num next)
{
    if (acc.isInt() && next.isInt())
        return next.i > acc.i ? next : acc;
    return Num::ofDouble(next.asDouble() > acc.asDouble() ? next.asDouble() : acc.asDouble());
}
inline Num smaller(Num acc, Num next)
{
    if (acc.isInt() && next.isInt())
        return next.i < acc.i ? next : acc;
    return Num::ofDouble(next.asDouble() < acc.asDouble() ? next.asDouble() : acc.asDouble());
}
inline Num atan2Of(Num y, Num x)
{
    return Num::ofDouble(std::atan2(y.asDouble(), x.asDouble()));
}
inline Num toDouble(Num v)
{
    return Num::ofDouble(v.asDouble());
}
inline Num toInt(Num v)
{
    return Num::ofInt(v.isInt() ? v.i : truncateToInt(v.d));
}
inline Num absolute(Num v)
{
    if (v.isInt())
        return Num::ofInt(v.i < 0 ? wrapNeg(v.i) : v.i);
    return Num::ofDouble(std::fabs(v.d));
}

} // namespace numeric

// --- General evaluations (Builtins.cpp) ------------------------------------------------

Value evaluateMax(const CallArguments& args);
Value evaluateMin(const CallArguments& args);
Value evaluatePrintf(const CallArguments& args);
Value evaluateAtan2(const CallArguments& args);
Value evaluateDouble(const CallArguments& args);
Value evaluateInt(const CallArguments& args);
Value evaluateAbs(const CallArguments& args);

// --- The table -----------------------------------------------------------------------------

namespace table {
using R = NumericStep::Result;
using S = NumericStep;
inline constexpr std::array kBuiltins = {
    Builtin{"max", -1, &evaluateMax, S::folding(&numeric::same, &numeric::greater, R::Like)},
    Builtin{"min", -1, &evaluateMin, S::folding(&numeric::same, &numeric::smaller, R::Like)},
    Builtin{"printf", -1, &evaluatePrintf, S::none()},
    Builtin{"atan2", 2, &evaluateAtan2, S::folding(&numeric::same, &numeric::atan2Of, R::Double)},
    Builtin{"double", 1, &evaluateDouble, S::of(&numeric::toDouble, R::Double)},
    Builtin{"int", 1, &evaluateInt, S::of(&numeric::toInt, R::Integer)},
    Builtin{"abs", 1, &evaluateAbs, S::of(&numeric::absolute, R::Like)},
};
} // namespace table
using table::kBuiltins;
static_assert(kBuiltins.size() < 255, "a call node caches its entry's position in a byte");

// The entry of that name, or null.
const Builtin* findBuiltin(std::string_view name);

// The entry a call node calls, looked up by name on its first use and then
// remembered in `cache` (0: not looked up yet).
inline const Builtin* builtinFor(std::uint8_t& cache, const std::string& name)
{
    constexpr std::uint8_t kNone = 255;
    if (cache == 0) {
        const Builtin* b = findBuiltin(name);
        cache = b ? static_cast<std::uint8_t>(b - kBuiltins.data() + 1) : kNone;
    }
    return cache == kNone ? nullptr : &kBuiltins[cache - 1u];
}

} // namespace fieldmon::expr
