// Evaluation of expression nodes: operators, functions, variables.
//
// Two paths compute the same results. The numeric path handles trees whose
// values are all integers and doubles, in plain registers and without
// allocating; it gives up (before doing anything visible) at the first thing
// it does not handle: a text, an error, a diagnostic to print, a node that
// must change kind. The general path then evaluates the whole tree again on
// Values, with every message and every change of kind.
#include "expr/ClientData.h"

#include "device/Client.h"
#include "expr/ClientDataEnvironment.h"
#include "expr/Format.h"
#include "expr/RemoteAccess.h"
#include "variables/RemoteData.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

namespace fieldmon::expr {

namespace {

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

bool isValidOperator(char c)
{
    switch (c) {
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case '&':
    case '|':
    case '<':
    case '>':
    case 'L':
    case 'G':
    case 'A':
    case 'O':
    case 'E':
    case '?':
    case ':': return true;
    }
    return false;
}

// 32-bit arithmetic that wraps instead of overflowing.
std::int32_t wrapAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t wrapSub(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
std::int32_t wrapMul(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
std::int32_t wrapNeg(std::int32_t a)
{
    return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
}

// Integer operation; false when the result is an error (division or
// remainder by zero, INT_MIN / -1, an operator integers do not have).
bool applyInt(char op, std::int32_t a, std::int32_t b, std::int32_t& r)
{
    switch (op) {
    case '+': r = wrapAdd(a, b); return true;
    case '-': r = wrapSub(a, b); return true;
    case '*': r = wrapMul(a, b); return true;
    case '/':
        if (b == 0 || (a == kIntMin && b == -1))
            return false;
        r = a / b;
        return true;
    case '%':
        if (b == 0)
            return false;
        r = b == -1 ? 0 : a % b;
        return true;
    case '&': r = a & b; return true;
    case '|': r = a | b; return true;
    case 'A': r = (a != 0 && b != 0) ? 1 : 0; return true;
    case 'O': r = (a != 0 || b != 0) ? 1 : 0; return true;
    case '<': r = a < b; return true;
    case '>': r = a > b; return true;
    case 'L': r = a <= b; return true;
    case 'G': r = a >= b; return true;
    case 'E': r = a == b; return true;
    case ':': r = a; return true;
    }
    return false;
}

bool applyDouble(char op, double a, double b, double& r)
{
    switch (op) {
    case '+': r = a + b; return true;
    case '-': r = a - b; return true;
    case '*': r = a * b; return true;
    case '/': r = a / b; return true;
    case '%': {
        double q = a / b;
        r = (q - std::trunc(q)) * b;
        return true;
    }
    case '<': r = a < b ? 1.0 : 0.0; return true;
    case '>': r = a > b ? 1.0 : 0.0; return true;
    case 'L': r = a <= b ? 1.0 : 0.0; return true;
    case 'G': r = a >= b ? 1.0 : 0.0; return true;
    case 'E': r = a == b ? 1.0 : 0.0; return true;
    case ':': r = a; return true;
    }
    return false;
}

enum class Fn { Unknown, Max, Min, Printf, Atan2, Double, Int, Abs };

Fn functionOf(std::string_view name)
{
    if (name == "max")
        return Fn::Max;
    if (name == "min")
        return Fn::Min;
    if (name == "printf")
        return Fn::Printf;
    if (name == "atan2")
        return Fn::Atan2;
    if (name == "double")
        return Fn::Double;
    if (name == "int")
        return Fn::Int;
    if (name == "abs")
        return Fn::Abs;
    return Fn::Unknown;
}

// The argument count a function needs, or -1 for any.
int arityOf(Fn f)
{
    switch (f) {
    case Fn::Atan2: return 2;
    case Fn::Double:
    case Fn::Int:
    case Fn::Abs: return 1;
    case Fn::Unknown:
    case Fn::Max:
    case Fn::Min:
    case Fn::Printf: break;
    }
    return -1;
}

// Size a value takes in printf's packed argument buffer: 4-byte integers,
// 8-byte doubles, texts and errors as 4-byte references.
constexpr std::size_t kPrintfBuffer = 512;
std::size_t packedSize(const Value& v)
{
    return v.kind() == Kind::Double ? 8 : 4;
}

} // namespace

// A number on the numeric path.
struct Num {
    bool isInt;
    std::int32_t i;
    double d;
    static Num ofInt(std::int32_t v) { return {true, v, 0.0}; }
    static Num ofDouble(double v) { return {false, 0, v}; }
    double asDouble() const { return isInt ? static_cast<double>(i) : d; }
    Value value() const { return isInt ? Value::integer(i) : Value::real(d); }
};

class Evaluator {
public:
    static bool number(ClientData& n, ClientDataEnvironment* env, Num& out);
    static Value value(ClientData& n, ClientDataEnvironment* env);

private:
    static bool numberOfOperator(ClientData& n, ClientDataEnvironment* env, Num& out);
    static bool numberOfFunction(ClientData& n, ClientDataEnvironment* env, Num& out);
    static ClientData* branchOf(ClientData& n, std::int32_t condition);
    static Value child(ClientData& c, ClientDataEnvironment* env);
    static Value valueOfOperator(ClientData& n, ClientDataEnvironment* env);
    static Value valueOfFunction(ClientData& n, ClientDataEnvironment* env);
    static Value valueOfVariable(ClientData& n, ClientDataEnvironment* env);
    static Value valueOfLocal(ClientData& n, ClientDataEnvironment* env);
};

// --- Numeric path ------------------------------------------------------------------

// The ":" node's argument that "?" selects, or null when the tree is not
// shaped as cond ? a : b.
ClientData* Evaluator::branchOf(ClientData& n, std::int32_t condition)
{
    if (n.args_.size() < 2)
        return nullptr;
    ClientData& colon = *n.args_[1];
    if (colon.kind_ != NodeKind::Operator || colon.op_ != ':' || colon.args_.size() < 2)
        return nullptr;
    return colon.args_[condition != 0 ? 0 : 1].get();
}

bool Evaluator::number(ClientData& n, ClientDataEnvironment* env, Num& out)
{
    switch (n.kind_) {
    case NodeKind::Integer: out = Num::ofInt(n.intVal_); return true;
    case NodeKind::Double: out = Num::ofDouble(n.doubleVal_); return true;
    case NodeKind::RemoteVariable: {
        // Only a variable already resolved; resolving may print.
        if (!n.remoteData_)
            return false;
        return remoteNumber(*n.remoteData_, out.isInt, out.i, out.d);
    }
    case NodeKind::LocalVariable: {
        ClientData* bound = env ? env->findVariable(n.varName_) : nullptr;
        if (!bound || bound->kind_ == NodeKind::Environment)
            return false;
        return number(*bound, n.globalEnvironment(), out);
    }
    case NodeKind::Operator: return numberOfOperator(n, env, out);
    case NodeKind::Function: return numberOfFunction(n, env, out);
    case NodeKind::String:
    case NodeKind::Error:
    case NodeKind::Plain:
    case NodeKind::Element:
    case NodeKind::Index:
    case NodeKind::Environment: break;
    }
    return false;
}

bool Evaluator::numberOfOperator(ClientData& n, ClientDataEnvironment* env, Num& out)
{
    const char op = n.op_;
    auto& args = n.args_;
    if (op == '?') {
        Num c;
        if (args.empty() || !number(*args[0], env, c))
            return false;
        ClientData* branch = branchOf(n, c.isInt ? c.i : truncateToInt(c.d));
        return branch && number(*branch, env, out);
    }
    if (!isValidOperator(op))
        return false;
    if (args.empty()) {
        out = Num::ofInt(0);
        return true;
    }
    Num acc;
    if (!number(*args[0], env, acc))
        return false;
    if (op == '-' && args.size() == 1) {
        out = acc.isInt ? Num::ofInt(wrapNeg(acc.i)) : Num::ofDouble(-acc.d);
        return true;
    }
    for (std::size_t k = 1; k < args.size(); ++k) {
        Num v;
        if (!number(*args[k], env, v))
            return false;
        if (acc.isInt && v.isInt) {
            if (!applyInt(op, acc.i, v.i, acc.i))
                return false;
            continue;
        }
        double r;
        if (!applyDouble(op, acc.asDouble(), v.asDouble(), r))
            return false;
        acc = Num::ofDouble(r);
    }
    out = acc;
    return true;
}

bool Evaluator::numberOfFunction(ClientData& n, ClientDataEnvironment* env, Num& out)
{
    const Fn f = functionOf(n.varName_);
    auto& args = n.args_;
    const int arity = arityOf(f);
    if (arity >= 0 && static_cast<int>(args.size()) != arity)
        return false;
    switch (f) {
    case Fn::Max:
    case Fn::Min: {
        Num best = Num::ofInt(0);
        bool allInt = true;
        for (std::size_t k = 0; k < args.size(); ++k) {
            Num v;
            if (!number(*args[k], env, v))
                return false;
            allInt = allInt && v.isInt;
            if (k == 0) {
                best = v;
                continue;
            }
            bool better = f == Fn::Max ? v.asDouble() > best.asDouble() : v.asDouble() < best.asDouble();
            if (better)
                best = v;
        }
        out = allInt ? best : Num::ofDouble(best.asDouble());
        return true;
    }
    case Fn::Atan2: {
        Num y, x;
        if (!number(*args[0], env, y) || !number(*args[1], env, x))
            return false;
        out = Num::ofDouble(std::atan2(y.asDouble(), x.asDouble()));
        return true;
    }
    case Fn::Double: {
        Num v;
        if (!number(*args[0], env, v))
            return false;
        out = Num::ofDouble(v.asDouble());
        return true;
    }
    case Fn::Int: {
        Num v;
        if (!number(*args[0], env, v))
            return false;
        out = Num::ofInt(v.isInt ? v.i : truncateToInt(v.d));
        return true;
    }
    case Fn::Abs: {
        Num v;
        if (!number(*args[0], env, v))
            return false;
        out = v.isInt ? Num::ofInt(v.i < 0 ? wrapNeg(v.i) : v.i) : Num::ofDouble(std::fabs(v.d));
        return true;
    }
    case Fn::Printf:
    case Fn::Unknown: break;
    }
    return false;
}

// --- General path ------------------------------------------------------------------

Value Evaluator::child(ClientData& c, ClientDataEnvironment* env)
{
    if (c.kind_ == NodeKind::Environment)
        return c.evalWithEnvironment(env);
    return value(c, env);
}

Value Evaluator::value(ClientData& n, ClientDataEnvironment* env)
{
    switch (n.kind_) {
    case NodeKind::Integer: return Value::integer(n.intVal_);
    case NodeKind::Double: return Value::real(n.doubleVal_);
    case NodeKind::String: return Value::text(n.string_);
    case NodeKind::Error: return Value::error();
    case NodeKind::RemoteVariable:
    case NodeKind::Element:
    case NodeKind::Index: return valueOfVariable(n, env);
    case NodeKind::LocalVariable: return valueOfLocal(n, env);
    case NodeKind::Operator: return valueOfOperator(n, env);
    case NodeKind::Function: return valueOfFunction(n, env);
    case NodeKind::Environment: return n.evalWithEnvironment(env);
    case NodeKind::Plain: break;
    }
    return {};
}

Value Evaluator::valueOfVariable(ClientData& n, ClientDataEnvironment* env)
{
    n.updateRemoteDataWithEnvironment(env);
    if (n.kind_ == NodeKind::LocalVariable)
        return valueOfLocal(n, env);
    if (!n.remoteData_)
        return Value::error();
    Value v = n.remoteData_->defaultClientDataRepresentation();
    if (n.debug())
        std::printf("Remote data has a value of '%s'\n", v.stringValue().c_str());
    return v;
}

Value Evaluator::valueOfLocal(ClientData& n, ClientDataEnvironment* env)
{
    ClientData* bound = env ? env->findVariable(n.varName_) : nullptr;
    if (!bound)
        return {};
    // Keep the bound node alive while it runs, whatever it does to scopes.
    NodePtr hold = bound->shared_from_this();
    return child(*bound, n.globalEnvironment());
}

Value Evaluator::valueOfOperator(ClientData& n, ClientDataEnvironment* env)
{
    const char op = n.op_;
    if (op == '?') {
        if (n.args_.size() < 2)
            return Value::error();
        NodePtr condition = n.args_[0];
        if (condition->kind_ == NodeKind::Error)
            return Value::error();
        Value c = child(*condition, env);
        if (c.isError())
            return c;
        ClientData* branch = branchOf(n, c.intValue());
        if (!branch)
            return Value::error();
        NodePtr hold = branch->shared_from_this();
        return child(*branch, env);
    }
    if (op == '-' && n.args_.size() == 1) {
        Value v = child(*n.args_[0], env);
        switch (v.kind()) {
        case Kind::Integer: return Value::integer(wrapNeg(v.asInt()));
        case Kind::Double: return Value::real(-v.asDouble());
        case Kind::String: std::printf("Error: Can't negate string\n"); return Value::error();
        case Kind::Error: return v;
        case Kind::None: break;
        }
        return Value::integer(0);
    }
    if (!isValidOperator(op)) {
        std::printf("Error: Opperator is not one of the many + * - /\n");
        n.becomeError();
        return Value::error();
    }
    // The arguments may change kind while they are evaluated; hold them.
    const std::vector<NodePtr> args = n.args_;
    if (args.empty())
        return Value::integer(0);

    Value acc = child(*args[0], env);
    if (acc.isError())
        return acc;
    if (acc.isNone())
        acc = Value::integer(0); // nothing reads as the integer 0
    for (std::size_t k = 1; k < args.size(); ++k) {
        Value v = child(*args[k], env);
        if (v.isError())
            return v;
        if (v.isNone())
            v = Value::integer(0);
        const auto rank = [](const Value& x) { return static_cast<int>(x.kind()); };
        if (rank(v) > rank(acc)) {
            // Promote the accumulator: integer < double < text.
            if (v.kind() == Kind::Double)
                acc = Value::real(acc.doubleValue());
            else
                acc = Value::text(acc.stringValue());
        } else if (rank(v) < rank(acc)) {
            if (acc.kind() == Kind::Double)
                v = Value::real(v.doubleValue());
            else
                v = Value::text(v.stringValue());
        }
        switch (acc.kind()) {
        case Kind::Integer: {
            std::int32_t r;
            if (!applyInt(op, acc.asInt(), v.asInt(), r))
                return Value::error();
            acc = Value::integer(r);
            break;
        }
        case Kind::Double: {
            double r;
            if (!applyDouble(op, acc.asDouble(), v.asDouble(), r))
                return Value::error();
            acc = Value::real(r);
            break;
        }
        case Kind::String:
            if (op == '+') {
                acc = Value::text(acc.asText() + v.asText());
                break;
            }
            if (op == ':')
                break;
            return Value::error();
        case Kind::Error:
        case Kind::None: return Value::error();
        }
    }
    return acc;
}

Value Evaluator::valueOfFunction(ClientData& n, ClientDataEnvironment* env)
{
    const Fn f = functionOf(n.varName_);
    const int arity = arityOf(f);
    const std::vector<NodePtr> args = n.args_;
    if (arity >= 0 && static_cast<int>(args.size()) != arity) {
        std::printf("Error: %d args to %s\n", static_cast<int>(args.size()), n.varName_.c_str());
        n.becomeError();
        return Value::error();
    }
    switch (f) {
    case Fn::Max:
    case Fn::Min: {
        if (args.empty())
            return Value::integer(0);
        Value best;
        bool allInt = true;
        for (const NodePtr& a : args) {
            Value v = child(*a, env);
            if (v.isError()) {
                std::printf("Error: Passing the error on through\n");
                return v;
            }
            if (v.kind() == Kind::String)
                return Value::error();
            if (v.isNone())
                v = Value::integer(0);
            allInt = allInt && v.kind() == Kind::Integer;
            if (best.isNone()) {
                best = v;
                continue;
            }
            bool better = f == Fn::Max ? v.doubleValue() > best.doubleValue() : v.doubleValue() < best.doubleValue();
            if (better)
                best = v;
        }
        return allInt ? best : Value::real(best.doubleValue());
    }
    case Fn::Printf: {
        if (args.empty())
            return Value::text({});
        std::string format = args[0]->stringValueWithEnvironment(env);
        std::vector<Value> values;
        std::size_t packed = 0;
        for (std::size_t k = 1; k < args.size(); ++k) {
            Value v = child(*args[k], env);
            if (v.isNone())
                v = Value::integer(0);
            // Arguments that no longer fit the packed buffer are not used.
            packed += packedSize(v);
            if (packed > kPrintfBuffer)
                break;
            values.push_back(std::move(v));
        }
        return Value::text(formatValues(format, values));
    }
    case Fn::Atan2: {
        Value y = child(*args[0], env);
        Value x = child(*args[1], env);
        if (y.isError())
            return y;
        if (x.isError())
            return x;
        return Value::real(std::atan2(y.doubleValue(), x.doubleValue()));
    }
    case Fn::Double: {
        Value v = child(*args[0], env);
        return v.isError() ? v : Value::real(v.doubleValue());
    }
    case Fn::Int: {
        Value v = child(*args[0], env);
        return v.isError() ? v : Value::integer(v.intValue());
    }
    case Fn::Abs: {
        Value v = child(*args[0], env);
        if (v.kind() == Kind::Integer)
            return Value::integer(v.asInt() < 0 ? wrapNeg(v.asInt()) : v.asInt());
        if (v.kind() == Kind::Double)
            return Value::real(std::fabs(v.asDouble()));
        return Value::error();
    }
    case Fn::Unknown: break;
    }
    return {};
}

// --- Entry points -----------------------------------------------------------------

Value ClientData::evalWithEnvironment(ClientDataEnvironment* env)
{
    if (!env)
        env = globalEnvironment();
    if (!debug()) {
        Num r;
        if (Evaluator::number(*this, env, r))
            return r.value();
    }
    // Keep this node alive while it evaluates: a node may be the last holder
    // of things that its evaluation lets go of (a wrapper changing parent).
    NodePtr hold = shared_from_this();
    return Evaluator::value(*this, env);
}

double ClientData::doubleValueWithEnvironment(ClientDataEnvironment* env)
{
    if (!env)
        env = globalEnvironment();
    if (!debug()) {
        Num r;
        if (Evaluator::number(*this, env, r))
            return r.asDouble();
    }
    NodePtr hold = shared_from_this();
    return Evaluator::value(*this, env).doubleValue();
}

std::int32_t ClientData::intValueWithEnvironment(ClientDataEnvironment* env)
{
    if (!env)
        env = globalEnvironment();
    if (!debug()) {
        Num r;
        if (Evaluator::number(*this, env, r))
            return r.isInt ? r.i : truncateToInt(r.d);
    }
    NodePtr hold = shared_from_this();
    return Evaluator::value(*this, env).intValue();
}

} // namespace fieldmon::expr
