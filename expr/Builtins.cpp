// The general evaluations of the built-in functions, over Values.
#include "expr/Builtins.h"

#include "expr/Format.h"
#include "platform/Diagnostics.h"


namespace fieldmon::expr {

namespace {

// The number a max or min argument contributes; false with `result` set
// when the argument ends the call (an error is passed on, a text is an error).
bool extremeArgument(const Value& v, Num& n, Value& result)
{
    switch (v.kind()) {
    case Kind::Error:
        diag("Error: Passing the error on through\n");
        result = v;
        return false;
    case Kind::String: result = Value::error(); return false;
    case Kind::Integer: n = Num::ofInt(v.asInt()); return true;
    case Kind::Double: n = Num::ofDouble(v.asDouble()); return true;
    case Kind::None: n = Num::ofInt(0); return true;
    }
    return true;
}

// max and min: the arguments in order, folded with the numeric step; all
// integers give an integer, any double a double; no arguments give 0.
Value extreme(const CallArguments& args, Num (*fold)(Num, Num))
{
    Num best = Num::ofInt(0);
    for (std::size_t k = 0; k < args.size(); ++k) {
        Num n = Num::ofInt(0);
        Value stop;
        if (!extremeArgument(args.value(k), n, stop))
            return stop;
        best = k == 0 ? n : fold(best, n);
    }
    return best.value();
}

// Size a value takes in printf's packed argument buffer: 4-byte integers,
// 8-byte doubles, texts and errors as 4-byte references.
constexpr std::size_t kPrintfBuffer = 512;
std::size_t packedSize(const Value& v)
{
    return v.kind() == Kind::Double ? 8 : 4;
}

} // namespace

const Builtin* findBuiltin(std::string_view name)
{
    for (const Builtin& b : kBuiltins)
        if (b.name == name)
            return &b;
    return nullptr;
}

Value evaluateMax(const CallArguments& args)
{
    return extreme(args, &numeric::greater);
}

Value evaluateMin(const CallArguments& args)
{
    return extreme(args, &numeric::smaller);
}

// The format (the first argument's text) filled from the further arguments
// in order; arguments that no longer fit the 512-byte packed buffer are not
// used. The text ends at kMaxOutput bytes; the first cut of each call node
// is printed.
Value evaluatePrintf(const CallArguments& args)
{
    if (args.size() == 0)
        return Value::text({});
    std::string format = args.text(0);
    std::vector<Value> values;
    std::size_t packed = 0;
    for (std::size_t k = 1; k < args.size(); ++k) {
        Value v = args.value(k);
        if (v.isNone())
            v = Value::integer(0);
        packed += packedSize(v);
        if (packed > kPrintfBuffer)
            break;
        values.push_back(std::move(v));
    }
    bool cut = false;
    std::string text = formatValues(format, values, &cut);
    if (cut && args.firstCut())
        diag("printf: output cut at %zu bytes\n", kMaxOutput);
    return Value::text(std::move(text));
}

// atan2(y, x) of their floating values; an error argument is the result
// (the first if both are).
Value evaluateAtan2(const CallArguments& args)
{
    Value y = args.value(0);
    Value x = args.value(1);
    if (y.isError())
        return y;
    if (x.isError())
        return x;
    return numeric::atan2Of(Num::ofDouble(y.doubleValue()), Num::ofDouble(x.doubleValue())).value();
}

Value evaluateDouble(const CallArguments& args)
{
    Value v = args.value(0);
    return v.isError() ? v : Value::real(v.doubleValue());
}

Value evaluateInt(const CallArguments& args)
{
    Value v = args.value(0);
    return v.isError() ? v : Value::integer(v.intValue());
}

// Integers and doubles keep their kind; anything else is an error.
Value evaluateAbs(const CallArguments& args)
{
    Value v = args.value(0);
    if (v.kind() == Kind::Integer)
        return numeric::absolute(Num::ofInt(v.asInt())).value();
    if (v.kind() == Kind::Double)
        return numeric::absolute(Num::ofDouble(v.asDouble())).value();
    return Value::error();
}

} // namespace fieldmon::expr
