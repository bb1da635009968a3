// Evaluation of expression nodes: operators, functions, variables.
//
// Two paths compute the same results. The numeric path handles trees whose
// values are all integers and doubles, in plain registers and without
// allocating; it gives up (before doing anything visible) at the first thing
// it does not handle: a text, an error, a diagnostic to print, a node that
// must change kind. The general path then evaluates the whole tree again on
// Values, with every message and every change of kind.
#include "expr/Node.h"

#include "expr/Builtins.h"
#include "expr/Scope.h"
#include "expr/Numeric.h"
#include "expr/NumericProgram.h"
#include "expr/RemoteAccess.h"
#include "platform/Diagnostics.h"
#include "variables/RemoteData.h"

#include <cmath>
#include <limits>
#include <string_view>

namespace fieldmon::expr {

class Evaluator {
public:
    // The numeric value through the node's compiled program, or the tree
    // walk where there is none; Num::fail() where Values must take over.
    static Num fast(Node& n, Scope* env);
    static Num number(Node& n, Scope* env);
    static Value value(Node& n, Scope* env);
    static Value general(Node& n, Scope* env);
    static Value child(Node& c, Scope* env);

private:
    static Num numberOfOperator(Node& n, Scope* env);
    static Num numberOfFunction(Node& n, Scope* env);
    static Node* branchOf(Node& n, std::int32_t condition);
    static Value valueOfOperator(Node& n, Scope* env);
    static Value valueOfFunction(Node& n, Scope* env);
    static Value valueOfVariable(Node& n, Scope* env);
    static Value valueOfLocal(Node& n, Scope* env);
};

// --- Numeric path ------------------------------------------------------------------

[[gnu::always_inline]] inline Num Evaluator::fast(Node& n, Scope* env)
{
    if (const NumericProgram* p = n.program(env)) {
        NumericProgram::Outcome outcome;
        const Num r = p->run(env, outcome);
        if (outcome == NumericProgram::Outcome::Done)
            return r;
        if (outcome == NumericProgram::Outcome::GaveUp)
            return Num::fail();
        n.programIsStale();
    }
    return number(n, env);
}

// The ":" node's argument that "?" selects, or null when the tree is not
// shaped as cond ? a : b.
Node* Evaluator::branchOf(Node& n, std::int32_t condition)
{
    if (n.args_.size() < 2)
        return nullptr;
    Node& colon = *n.args_[1];
    if (colon.kind_ != NodeKind::Operator || colon.op_ != Operator::Branches || colon.args_.size() < 2)
        return nullptr;
    return colon.args_[condition != 0 ? 0 : 1].get();
}

Num Evaluator::number(Node& n, Scope* env)
{
    switch (n.kind_) {
    case NodeKind::Integer: return Num::ofInt(n.intVal_);
    case NodeKind::Double: return Num::ofDouble(n.doubleVal_);
    case NodeKind::RemoteVariable: {
        // Only a variable already resolved; resolving may print.
        if (!n.remoteData_)
            return Num::fail();
        bool isInt = false;
        std::int32_t i = 0;
        double d = 0.0;
        if (!n.remoteData_->numberValue(isInt, i, d))
            return Num::fail();
        return isInt ? Num::ofInt(i) : Num::ofDouble(d);
    }
    case NodeKind::LocalVariable: {
        // The numeric path is given no environment when the caller meant the
        // global one; it is looked up only here, where it is needed.
        if (!env)
            env = n.globalEnvironment();
        Node* bound = env ? env->findVariable(n.varName_) : nullptr;
        if (!bound || bound->kind_ == NodeKind::Environment)
            return Num::fail();
        return number(*bound, nullptr);
    }
    case NodeKind::Operator: return numberOfOperator(n, env);
    case NodeKind::Function: return numberOfFunction(n, env);
    case NodeKind::String:
    case NodeKind::Error:
    case NodeKind::Plain:
    case NodeKind::Element:
    case NodeKind::Index:
    case NodeKind::Environment: break;
    }
    return Num::fail();
}

Num Evaluator::numberOfOperator(Node& n, Scope* env)
{
    const Operator op = n.op_;
    const auto& args = n.args_;
    if (op == Operator::Choose) {
        if (args.empty())
            return Num::fail();
        const Num c = number(*args[0], env);
        if (c.failed())
            return c;
        Node* branch = branchOf(n, c.isInt() ? c.i : truncateToInt(c.d));
        return branch ? number(*branch, env) : Num::fail();
    }
    if (!isValidOperator(op))
        return Num::fail();
    const std::size_t count = args.size();
    if (count == 0)
        return Num::ofInt(0);
    Num acc = number(*args[0], env);
    if (acc.failed())
        return acc;
    if (op == Operator::Subtract && count == 1)
        return acc.isInt() ? Num::ofInt(wrapNeg(acc.i)) : Num::ofDouble(-acc.d);
    for (std::size_t k = 1; k < count; ++k) {
        const Num v = number(*args[k], env);
        if (v.failed())
            return v;
        if (acc.isInt() && v.isInt()) {
            std::int32_t r;
            if (!applyInt(op, acc.i, v.i, r))
                return Num::fail();
            acc = Num::ofInt(r);
            continue;
        }
        double r;
        if (!applyDouble(op, acc.asDouble(), v.asDouble(), r))
            return Num::fail();
        acc = Num::ofDouble(r);
    }
    return acc;
}

Num Evaluator::numberOfFunction(Node& n, Scope* env)
{
    const Builtin* b = builtinFor(n.function_, n.varName_);
    if (!b || !b->numeric.exists())
        return Num::fail();
    const auto& args = n.args_;
    if (b->arity >= 0 && static_cast<int>(args.size()) != b->arity)
        return Num::fail();
    if (args.empty())
        return Num::ofInt(0);
    Num acc = number(*args[0], env);
    if (acc.failed())
        return acc;
    acc = b->numeric.first(acc);
    for (std::size_t k = 1; k < args.size() && b->numeric.folds(); ++k) {
        const Num v = number(*args[k], env);
        if (v.failed())
            return v;
        acc = b->numeric.fold(acc, v);
    }
    return acc;
}

// --- General path ------------------------------------------------------------------

Value Evaluator::child(Node& c, Scope* env)
{
    if (c.kind_ == NodeKind::Environment)
        return c.evalWithEnvironment(env);
    return value(c, env);
}

Value Evaluator::value(Node& n, Scope* env)
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

Value Evaluator::valueOfVariable(Node& n, Scope* env)
{
    n.updateRemoteDataWithEnvironment(env);
    if (n.kind_ == NodeKind::LocalVariable)
        return valueOfLocal(n, env);
    if (!n.remoteData_)
        return Value::error();
    Value v = n.remoteData_->defaultClientDataRepresentation();
    if (n.debug())
        diag("Remote data has a value of '%s'\n", v.stringValue().c_str());
    return v;
}

Value Evaluator::valueOfLocal(Node& n, Scope* env)
{
    Node* bound = env ? env->findVariable(n.varName_) : nullptr;
    if (!bound)
        return {};
    // Keep the bound node alive while it runs, whatever it does to scopes.
    NodePtr hold = bound->shared_from_this();
    return child(*bound, n.globalEnvironment());
}

Value Evaluator::valueOfOperator(Node& n, Scope* env)
{
    const Operator op = n.op_;
    if (op == Operator::Choose) {
        if (n.args_.size() < 2)
            return Value::error();
        // Only an error node as the condition is the result. Any other
        // condition chooses by its integer value, so an error value (which
        // reads as 0) chooses the second branch, as the requests did.
        NodePtr condition = n.args_[0];
        if (condition->kind_ == NodeKind::Error)
            return Value::error();
        Node* branch = branchOf(n, child(*condition, env).intValue());
        if (!branch)
            return Value::error();
        NodePtr hold = branch->shared_from_this();
        return child(*branch, env);
    }
    if (op == Operator::Subtract && n.args_.size() == 1) {
        Value v = child(*n.args_[0], env);
        switch (v.kind()) {
        case Kind::Integer: return Value::integer(wrapNeg(v.asInt()));
        case Kind::Double: return Value::real(-v.asDouble());
        case Kind::String: diag("Error: Can't negate string\n"); return Value::error();
        case Kind::Error: return v;
        case Kind::None: break;
        }
        return Value::integer(0);
    }
    if (!isValidOperator(op)) {
        diag("Error: Opperator is not one of the many + * - /\n");
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
            if (op == Operator::Add) {
                acc = Value::text(acc.asText() + v.asText());
                break;
            }
            if (op == Operator::Branches)
                break;
            return Value::error();
        case Kind::Error:
        case Kind::None: return Value::error();
        }
    }
    return acc;
}

Value Evaluator::valueOfFunction(Node& n, Scope* env)
{
    const Builtin* b = builtinFor(n.function_, n.varName_);
    if (!b)
        return {};
    // The arguments may change kind while they are evaluated; hold them.
    const std::vector<NodePtr> args = n.args_;
    if (b->arity >= 0 && static_cast<int>(args.size()) != b->arity) {
        diag("Error: %d args to %s\n", static_cast<int>(args.size()), n.varName_.c_str());
        n.becomeError();
        return Value::error();
    }
    return b->general(CallArguments(args, env, &n.cutReported_));
}

Value CallArguments::value(std::size_t k) const
{
    return Evaluator::child(*args_[k], env_);
}

std::string CallArguments::text(std::size_t k) const
{
    return args_[k]->stringValueWithEnvironment(env_);
}

Num evaluateNumber(Node& n, Scope* env)
{
    return Evaluator::number(n, env);
}

// --- Entry points -----------------------------------------------------------------

// Debug output needs every message, so it takes the general path.
[[gnu::always_inline]] inline bool tracing(const ClientPtr& client)
{
    return client && client->debug();
}

// The general path, kept out of line so that the numeric one stays small.
[[gnu::noinline]] Value Evaluator::general(Node& n, Scope* env)
{
    if (!env)
        env = n.globalEnvironment();
    // Keep the node alive while it evaluates: a node may be the last holder
    // of things that its evaluation lets go of (a wrapper changing parent).
    NodePtr hold = n.shared_from_this();
    return value(n, env);
}

Value Node::evalWithEnvironment(Scope* env)
{
    if (!tracing(remoteClient_)) {
        const Num r = Evaluator::fast(*this, env);
        if (!r.failed())
            return r.value();
    }
    return Evaluator::general(*this, env);
}

Value Node::eval()
{
    // Only environments evaluate differently; everything else takes the
    // base evaluation without a virtual call.
    if (kind_ == NodeKind::Environment)
        return evalWithEnvironment(nullptr);
    return Node::evalWithEnvironment(nullptr);
}

double Node::doubleValueWithEnvironment(Scope* env)
{
    if (!tracing(remoteClient_)) {
        const Num r = Evaluator::fast(*this, env);
        if (!r.failed())
            return r.asDouble();
    }
    if (!env)
        env = globalEnvironment();
    NodePtr hold = shared_from_this();
    return Evaluator::value(*this, env).doubleValue();
}

std::int32_t Node::intValueWithEnvironment(Scope* env)
{
    if (!tracing(remoteClient_)) {
        const Num r = Evaluator::fast(*this, env);
        if (!r.failed())
            return r.isInt() ? r.i : truncateToInt(r.d);
    }
    if (!env)
        env = globalEnvironment();
    NodePtr hold = shared_from_this();
    return Evaluator::value(*this, env).intValue();
}

} // namespace fieldmon::expr
