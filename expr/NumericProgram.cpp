#include "expr/NumericProgram.h"

#include "expr/Builtins.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "variables/RemoteData.h"

#include <array>
#include <utility>

namespace fieldmon::expr {

namespace {

using Step = NumericProgram::Step;
using Context = NumericProgram::Context;
using Outcome = NumericProgram::Outcome;

void giveUp(Context& x)
{
    if (x.outcome == Outcome::Done)
        x.outcome = Outcome::GaveUp;
}

void stale(Context& x)
{
    x.outcome = Outcome::Stale;
}

void stale(Context& x);

[[gnu::always_inline]] inline std::int32_t readInt(const Step& s, Context& x)
{
    bool isInt = false;
    std::int32_t i = 0;
    double d = 0.0;
    if (!static_cast<const RemoteData*>(s.p)->numberValue(isInt, i, d) || !isInt)
        stale(x);
    return i;
}

[[gnu::always_inline]] inline double readDouble(const Step& s, Context& x)
{
    bool isInt = true;
    std::int32_t i = 0;
    double d = 0.0;
    if (!static_cast<const RemoteData*>(s.p)->numberValue(isInt, i, d) || isInt)
        stale(x);
    return d;
}

// Leaves (constants, remote values) are read in place; other steps are called.
[[gnu::always_inline]] inline std::int32_t intOf(const Step& s, Context& x)
{
    if (s.leaf == Step::RemoteInt)
        return readInt(s, x);
    if (s.leaf == Step::ConstInt)
        return *static_cast<const std::int32_t*>(s.p);
    return s.i(s, x);
}

[[gnu::always_inline]] inline double doubleOf(const Step& s, Context& x)
{
    if (s.leaf == Step::RemoteDouble)
        return readDouble(s, x);
    if (s.leaf == Step::ConstDouble)
        return *static_cast<const double*>(s.p);
    if (s.isInt)
        return static_cast<double>(intOf(s, x));
    return s.d(s, x);
}


// --- Leaves ----------------------------------------------------------------------

std::int32_t constInt(const Step& s, Context&)
{
    return *static_cast<const std::int32_t*>(s.p);
}

double constDouble(const Step& s, Context&)
{
    return *static_cast<const double*>(s.p);
}

std::int32_t remoteInt(const Step& s, Context& x)
{
    return readInt(s, x);
}

double remoteDouble(const Step& s, Context& x)
{
    return readDouble(s, x);
}

Num localValue(const Step& s, Context& x)
{
    return evaluateNumber(*const_cast<Node*>(static_cast<const Node*>(s.p)), x.env);
}

std::int32_t localInt(const Step& s, Context& x)
{
    const Num v = localValue(s, x);
    if (v.tag != Num::Int) {
        stale(x);
        return 0;
    }
    return v.i;
}

double localDouble(const Step& s, Context& x)
{
    const Num v = localValue(s, x);
    if (v.tag != Num::Dbl) {
        stale(x);
        return 0.0;
    }
    return v.d;
}

std::int32_t unresolved(const Step&, Context& x)
{
    // A name not resolved yet (a branch not taken so far): the tree resolves
    // it, and the resolution rebuilds the program.
    giveUp(x);
    return 0;
}

// --- Operators -------------------------------------------------------------------

template <Operator Op>
std::int32_t binaryInt(const Step& s, Context& x)
{
    const std::int32_t l = intOf(*s.a, x);
    const std::int32_t r = intOf(*s.b, x);
    std::int32_t out = 0;
    if (!applyInt(Op, l, r, out))
        giveUp(x);
    return out;
}

template <Operator Op>
double binaryDouble(const Step& s, Context& x)
{
    const double l = doubleOf(*s.a, x);
    const double r = doubleOf(*s.b, x);
    double out = 0.0;
    applyDouble(Op, l, r, out);
    return out;
}

std::int32_t negInt(const Step& s, Context& x)
{
    return wrapNeg(intOf(*s.a, x));
}

double negDouble(const Step& s, Context& x)
{
    return -doubleOf(*s.a, x);
}

bool conditionOf(const Step& s, Context& x)
{
    const Step& c = *s.a;
    return (c.isInt ? intOf(c, x) : truncateToInt(doubleOf(c, x))) != 0;
}

std::int32_t chooseInt(const Step& s, Context& x)
{
    return intOf(conditionOf(s, x) ? *s.b : *s.c, x);
}

double chooseDouble(const Step& s, Context& x)
{
    return doubleOf(conditionOf(s, x) ? *s.b : *s.c, x);
}

// "cond ? a : b" whose condition is a comparison of two integers, the usual
// shape in documents: the comparison is made in place rather than through a
// step of its own. Comparisons never fail, so nothing else changes.
template <Operator Op>
bool compareInts(const Step& c, Context& x)
{
    const std::int32_t l = intOf(*c.a, x);
    const std::int32_t r = intOf(*c.b, x);
    std::int32_t out = 0;
    applyInt(Op, l, r, out);
    return out != 0;
}

template <Operator Op>
std::int32_t chooseIntOnCompare(const Step& s, Context& x)
{
    return intOf(compareInts<Op>(*s.a, x) ? *s.b : *s.c, x);
}

template <Operator Op>
double chooseDoubleOnCompare(const Step& s, Context& x)
{
    return doubleOf(compareInts<Op>(*s.a, x) ? *s.b : *s.c, x);
}

// Gives the fused choice for a condition step that is an integer
// comparison; false for any other condition.
template <Operator Op>
bool fuseChoiceOn(const Step& cond, Step& s)
{
    if (cond.i != &binaryInt<Op>)
        return false;
    if (s.isInt)
        s.i = &chooseIntOnCompare<Op>;
    else
        s.d = &chooseDoubleOnCompare<Op>;
    return true;
}

bool fuseChoice(const Step& cond, Step& s)
{
    if (cond.leaf != Step::Inner || !cond.isInt || cond.ia < 0 || cond.ib < 0)
        return false;
    return fuseChoiceOn<Operator::Less>(cond, s) || fuseChoiceOn<Operator::Greater>(cond, s) ||
           fuseChoiceOn<Operator::LessEqual>(cond, s) || fuseChoiceOn<Operator::GreaterEqual>(cond, s) ||
           fuseChoiceOn<Operator::Equal>(cond, s);
}

// A call of a built-in function: its numeric step over the argument steps.
// One instance per table entry, so the compiler sees the entry's functions
// and inlines them; with `Ints` (every argument an integer) it also sees the
// arguments' kinds and drops the checks of them.
template <bool Ints>
[[gnu::always_inline]] inline Num numOf(const Step& s, Context& x)
{
    if (Ints || s.isInt)
        return Num::ofInt(intOf(s, x));
    return Num::ofDouble(doubleOf(s, x));
}

template <std::size_t I, bool Ints>
[[gnu::always_inline]] inline Num callBuiltin(const Step& s, Context& x)
{
    constexpr NumericStep f = kBuiltins[I].numeric;
    if constexpr (!f.exists()) {
        return Num::fail(); // never built: the entry has no numeric step
    } else {
        Num acc = f.first(numOf<Ints>(*s.list[0], x));
        if constexpr (f.folds())
            for (int k = 1; k < s.count; ++k)
                acc = f.fold(acc, numOf<Ints>(*s.list[k], x));
        return acc;
    }
}

template <std::size_t I, bool Ints>
std::int32_t builtinInt(const Step& s, Context& x)
{
    const Num r = callBuiltin<I, Ints>(s, x);
    if (!r.isInt())
        stale(x); // cannot happen: the result's kind is fixed by the arguments'
    return r.i;
}

template <std::size_t I, bool Ints>
double builtinDouble(const Step& s, Context& x)
{
    return callBuiltin<I, Ints>(s, x).asDouble();
}

// The step functions of every table entry, by position: [entry][all
// arguments integers]; null for an entry without a numeric step.
template <std::size_t... I>
constexpr auto builtinIntSteps(std::index_sequence<I...>)
{
    return std::array<std::array<Step::IntFn, 2>, sizeof...(I)>{
        {{kBuiltins[I].numeric.exists() ? &builtinInt<I, false> : nullptr,
          kBuiltins[I].numeric.exists() ? &builtinInt<I, true> : nullptr}...}};
}
template <std::size_t... I>
constexpr auto builtinDoubleSteps(std::index_sequence<I...>)
{
    return std::array<std::array<Step::DoubleFn, 2>, sizeof...(I)>{
        {{kBuiltins[I].numeric.exists() ? &builtinDouble<I, false> : nullptr,
          kBuiltins[I].numeric.exists() ? &builtinDouble<I, true> : nullptr}...}};
}
constexpr auto kBuiltinIntSteps = builtinIntSteps(std::make_index_sequence<kBuiltins.size()>());
constexpr auto kBuiltinDoubleSteps = builtinDoubleSteps(std::make_index_sequence<kBuiltins.size()>());

// The step functions of one operator.
struct BinaryFns {
    Step::IntFn i;
    Step::DoubleFn d;
    bool doubles; // whether doubles have the operator at all
};

template <Operator Op>
constexpr BinaryFns binaryFns(bool doubles)
{
    return {&binaryInt<Op>, &binaryDouble<Op>, doubles};
}

bool binaryFnsOf(Operator op, BinaryFns& out)
{
    switch (op) {
    case Operator::Add: out = binaryFns<Operator::Add>(true); return true;
    case Operator::Subtract: out = binaryFns<Operator::Subtract>(true); return true;
    case Operator::Multiply: out = binaryFns<Operator::Multiply>(true); return true;
    case Operator::Divide: out = binaryFns<Operator::Divide>(true); return true;
    case Operator::Remainder: out = binaryFns<Operator::Remainder>(true); return true;
    case Operator::BitAnd: out = binaryFns<Operator::BitAnd>(false); return true;
    case Operator::BitOr: out = binaryFns<Operator::BitOr>(false); return true;
    case Operator::And: out = binaryFns<Operator::And>(false); return true;
    case Operator::Or: out = binaryFns<Operator::Or>(false); return true;
    case Operator::Less: out = binaryFns<Operator::Less>(true); return true;
    case Operator::Greater: out = binaryFns<Operator::Greater>(true); return true;
    case Operator::LessEqual: out = binaryFns<Operator::LessEqual>(true); return true;
    case Operator::GreaterEqual: out = binaryFns<Operator::GreaterEqual>(true); return true;
    case Operator::Equal: out = binaryFns<Operator::Equal>(true); return true;
    case Operator::Branches: out = binaryFns<Operator::Branches>(true); return true;
    case Operator::Choose: // emitted as a choice, never through here
    case Operator::Assign:
    case Operator::None: break;
    }
    return false; // "=" turns into an error in the tree
}

// The kind a local variable has now, for the step that reads it.
bool localKind(const Node& n, Scope* env, bool& isInt)
{
    const Num v = evaluateNumber(const_cast<Node&>(n), env);
    if (v.failed())
        return false;
    isInt = v.tag == Num::Int;
    return true;
}

} // namespace

NumericProgram::~NumericProgram() = default;

std::unique_ptr<NumericProgram> NumericProgram::build(const Node& tree, Scope* env)
{
    std::unique_ptr<NumericProgram> p(new NumericProgram);
    p->env_ = env;
    const int root = p->emit(tree, 0);
    if (root < 0)
        return nullptr;
    // The steps stop moving now: turn indexes into pointers.
    for (Step& s : p->steps_) {
        if (s.ia >= 0)
            s.a = &p->steps_[static_cast<std::size_t>(s.ia)];
        if (s.ib >= 0)
            s.b = &p->steps_[static_cast<std::size_t>(s.ib)];
        if (s.ic >= 0)
            s.c = &p->steps_[static_cast<std::size_t>(s.ic)];
    }
    // Argument lists become arrays of step pointers.
    p->listSteps_.reserve(p->lists_.size());
    for (int index : p->lists_)
        p->listSteps_.push_back(&p->steps_[static_cast<std::size_t>(index)]);
    for (Step& s : p->steps_)
        if (s.ilist >= 0)
            s.list = &p->listSteps_[static_cast<std::size_t>(s.ilist)];
    p->root_ = &p->steps_[static_cast<std::size_t>(root)];
    return p;
}

int NumericProgram::push(const Step& s)
{
    steps_.push_back(s);
    return static_cast<int>(steps_.size()) - 1;
}

int NumericProgram::emit(const Node& n, int depth)
{
    if (depth > kMaxDepth)
        return -1;
    switch (n.kind_) {
    case NodeKind::Integer:
    case NodeKind::Double:
    case NodeKind::RemoteVariable:
    case NodeKind::LocalVariable: {
        Step s;
        return leafStep(n, s) ? push(s) : -1;
    }
    case NodeKind::Operator: return n.op_ == Operator::Choose ? emitChoice(n, depth) : emitOperator(n, depth);
    case NodeKind::Function: return emitFunction(n, depth);
    case NodeKind::String:
    case NodeKind::Error:
    case NodeKind::Plain:
    case NodeKind::Element:
    case NodeKind::Index:
    case NodeKind::Environment: return -1;
    }
    return -1;
}

bool NumericProgram::leafStep(const Node& n, Step& s) const
{
    switch (n.kind_) {
    case NodeKind::Integer:
        s.i = &constInt;
        s.p = &n.intVal_;
        s.leaf = Step::ConstInt;
        return true;
    case NodeKind::Double:
        s.isInt = false;
        s.d = &constDouble;
        s.p = &n.doubleVal_;
        s.leaf = Step::ConstDouble;
        return true;
    case NodeKind::RemoteVariable: {
        if (!n.remoteData_) {
            s.i = &unresolved;
            return true;
        }
        bool isInt = false;
        std::int32_t i = 0;
        double d = 0.0;
        if (!n.remoteData_->numberValue(isInt, i, d))
            return false;
        s.isInt = isInt;
        if (isInt)
            s.i = &remoteInt;
        else
            s.d = &remoteDouble;
        s.p = n.remoteData_.get();
        s.leaf = isInt ? Step::RemoteInt : Step::RemoteDouble;
        return true;
    }
    case NodeKind::LocalVariable: {
        bool isInt = false;
        if (!localKind(n, env_, isInt))
            return false;
        s.isInt = isInt;
        if (isInt)
            s.i = &localInt;
        else
            s.d = &localDouble;
        s.p = &n;
        return true;
    }
    case NodeKind::Operator:
    case NodeKind::Function:
    case NodeKind::String:
    case NodeKind::Error:
    case NodeKind::Plain:
    case NodeKind::Element:
    case NodeKind::Index:
    case NodeKind::Environment: return false;
    }
    return false;
}

int NumericProgram::emitChoice(const Node& n, int depth)
{
    const auto& args = n.args_;
    if (args.size() < 2)
        return -1;
    const Node& colon = *args[1];
    if (colon.kind_ != NodeKind::Operator || colon.op_ != Operator::Branches || colon.args_.size() < 2)
        return -1;
    Step s;
    s.ia = emit(*args[0], depth + 1);
    s.ib = emit(*colon.args_[0], depth + 1);
    s.ic = emit(*colon.args_[1], depth + 1);
    if (s.ia < 0 || s.ib < 0 || s.ic < 0)
        return -1;
    const bool thenInt = steps_[static_cast<std::size_t>(s.ib)].isInt;
    const bool elseInt = steps_[static_cast<std::size_t>(s.ic)].isInt;
    if (thenInt != elseInt)
        return -1; // the kind depends on the branch: left to the tree
    s.isInt = thenInt;
    if (!fuseChoice(steps_[static_cast<std::size_t>(s.ia)], s)) {
        if (thenInt)
            s.i = &chooseInt;
        else
            s.d = &chooseDouble;
    }
    return push(s);
}

int NumericProgram::emitOperator(const Node& n, int depth)
{
    const auto& args = n.args_;
    const Operator op = n.op_;
    BinaryFns fns;
    if (!binaryFnsOf(op, fns))
        return -1;
    Step s;
    if (args.empty()) {
        s.i = &constInt;
        static const std::int32_t zero = 0;
        s.p = &zero;
        return push(s);
    }
    int acc = emit(*args[0], depth + 1);
    if (acc < 0)
        return -1;
    if (op == Operator::Subtract && args.size() == 1) {
        s.ia = acc;
        s.isInt = steps_[static_cast<std::size_t>(acc)].isInt;
        if (s.isInt)
            s.i = &negInt;
        else
            s.d = &negDouble;
        return push(s);
    }
    // One argument is its own value; each further one makes one step.
    for (std::size_t k = 1; k < args.size(); ++k) {
        const int right = emit(*args[k], depth + 1);
        if (right < 0)
            return -1;
        Step f;
        f.ia = acc;
        f.ib = right;
        const Step& l = steps_[static_cast<std::size_t>(acc)];
        const Step& r = steps_[static_cast<std::size_t>(right)];
        f.isInt = l.isInt && r.isInt;
        if (f.isInt) {
            f.i = fns.i;
        } else {
            if (!fns.doubles)
                return -1; // an error in the tree
            f.d = fns.d;
        }
        acc = push(f);
    }
    return acc;
}

int NumericProgram::emitFunction(const Node& n, int depth)
{
    std::uint8_t cached = n.function_;
    const Builtin* b = builtinFor(cached, n.varName_);
    if (!b || !b->numeric.exists())
        return -1;
    const auto& args = n.args_;
    if (b->arity >= 0 && static_cast<int>(args.size()) != b->arity)
        return -1;
    Step s;
    if (args.empty()) {
        static const std::int32_t zero = 0;
        s.i = &constInt;
        s.p = &zero;
        return push(s);
    }
    std::vector<int> kids;
    bool allInt = true;
    for (const NodePtr& a : args) {
        const int k = emit(*a, depth + 1);
        if (k < 0)
            return -1;
        kids.push_back(k);
        allInt = allInt && steps_[static_cast<std::size_t>(k)].isInt;
    }
    s.ilist = static_cast<int>(lists_.size());
    lists_.insert(lists_.end(), kids.begin(), kids.end());
    s.count = static_cast<int>(kids.size());
    switch (b->numeric.result) {
    case NumericStep::Result::Like: s.isInt = allInt; break;
    case NumericStep::Result::Integer: s.isInt = true; break;
    case NumericStep::Result::Double: s.isInt = false; break;
    }
    const auto entry = static_cast<std::size_t>(b - kBuiltins.data());
    if (s.isInt)
        s.i = kBuiltinIntSteps[entry][allInt];
    else
        s.d = kBuiltinDoubleSteps[entry][allInt];
    return push(s);
}

} // namespace fieldmon::expr
