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

class ClientData;
class ClientDataEnvironment;

// The arguments of one call as a general evaluation sees them: each is
// evaluated when asked for, in the caller's scope.
class CallArguments {
public:
    CallArguments(const std::vector<std::shared_ptr<ClientData>>& args, ClientDataEnvironment* env)
        : args_(args), env_(env)
    {
    }
    std::size_t size() const { return args_.size(); }
    // The argument's value (nothing for a call of an unknown function).
    Value value(std::size_t k) const;
    // The argument's text value.
    std::string text(std::size_t k) const;

private:
    const std::vector<std::shared_ptr<ClientData>>& args_;
    ClientDataEnvironment* env_;
};

// The numeric form of a function: the value from the first argument, then
// each further argument folded in (fold is null for one-argument functions).
// A call without arguments gives the integer 0, as max() does.
struct NumericStep {
    enum class Result : std::uint8_t {
        LikeArguments, // an integer when every argument is one, else a double
        Integer,
        Double,
    };
    Num (*first)(Num) = nullptr; // null: no numeric form
    Num (*fold)(Num acc, Num next) = nullptr;
    Result result = Result::LikeArguments;

    constexpr bool exists() const { return first != nullptr; }
    constexpr bool folds() const { return fold != nullptr; }
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

inline constexpr std::array kBuiltins = {
    Builtin{"max", -1, &evaluateMax, {&numeric::same, &numeric::greater, NumericStep::Result::LikeArguments}},
    Builtin{"min", -1, &evaluateMin, {&numeric::same, &numeric::smaller, NumericStep::Result::LikeArguments}},
    Builtin{"printf", -1, &evaluatePrintf, {}},
    Builtin{"atan2", 2, &evaluateAtan2, {&numeric::same, &numeric::atan2Of, NumericStep::Result::Double}},
    Builtin{"double", 1, &evaluateDouble, {&numeric::toDouble, nullptr, NumericStep::Result::Double}},
    Builtin{"int", 1, &evaluateInt, {&numeric::toInt, nullptr, NumericStep::Result::Integer}},
    Builtin{"abs", 1, &evaluateAbs, {&numeric::absolute, nullptr, NumericStep::Result::LikeArguments}},
};
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
