#pragma once
// NumericProgram: an expression tree compiled, for the kinds its values have
// now, into a tree of small typed steps, each a direct function that computes
// an integer or a double from its operands. Widgets evaluate their
// expressions at every refresh; walking the node tree (a dispatch on the
// node's kind, a dispatch on the operator, a kind check per value) costs
// several times what these steps do.
//
// A program follows the tree exactly: constants and local variables are
// read from their nodes at every run (so setInteger and rebinding are seen),
// remote variables from their buffers, and operators fold their arguments
// from the left with the same promotions as the tree. Each step that reads a
// value checks that the value still has the kind the program was built for;
// when it has not (a local variable rebound to a double, a redeclared
// variable), the run gives up and says so, and the caller rebuilds. Whatever
// has no numeric result (an integer division by zero) also gives up; the
// caller then evaluates the tree, which produces the error.
//
// A program belongs to the node it was built for and is rebuilt when any
// node anywhere has changed kind or been resolved since (Node keeps a
// generation count); in a steady state that never happens, so running
// allocates nothing.
//
// Thread rule: main thread only.

#include "expr/Numeric.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace fieldmon::expr {

class Node;
class Scope;

class NumericProgram {
public:
    // Trees taller than this are left to the tree walk.
    static constexpr int kMaxDepth = 64;

    // Null when the tree holds anything but numbers, remote and local
    // variables, operators and the numeric functions, or when its kinds do
    // not settle into integers and doubles (a conditional choosing between
    // an integer and a double). Local variables take the kinds they have in
    // `env` (null: the global environment).
    static std::unique_ptr<NumericProgram> build(const Node& root, Scope* env);
    ~NumericProgram();

    enum class Outcome : std::uint8_t { Done, GaveUp, Stale };
    // The value; GaveUp when the tree must be evaluated instead, Stale when
    // moreover the program no longer fits the kinds of its values.
    Num run(Scope* env, Outcome& outcome) const
    {
        Context x{env, Outcome::Done};
        const Step& r = *root_;
        const Num v = r.isInt ? Num::ofInt(r.i(r, x)) : Num::ofDouble(r.d(r, x));
        outcome = x.outcome;
        return outcome == Outcome::Done ? v : Num::fail();
    }

    // One typed step; internal, public only so that the step functions can
    // name it.
    struct Context {
        Scope* env;
        Outcome outcome;
    };
    struct Step {
        using IntFn = std::int32_t (*)(const Step&, Context&);
        using DoubleFn = double (*)(const Step&, Context&);

        // Leaves that the steps above them read in place, without a call.
        enum Leaf : std::uint8_t { Inner, ConstInt, ConstDouble, RemoteInt, RemoteDouble };

        IntFn i = nullptr;    // set for steps giving integers
        DoubleFn d = nullptr; // set for steps giving doubles
        bool isInt = true;
        Leaf leaf = Inner;
        const Step* a = nullptr;
        const Step* b = nullptr;
        const Step* c = nullptr;
        const void* p = nullptr; // the constant's value, remote variable or local variable node
        const Step* const* list = nullptr;
        int count = 0;
        // Indexes of a, b, c and the list until the steps stop moving.
        int ia = -1, ib = -1, ic = -1, ilist = -1;
    };

private:
    NumericProgram() = default;
    // Each emits the steps of one node and returns the index of its last
    // step, or -1 when the node is left to the tree.
    int emit(const Node& n, int depth);
    // A constant or a variable: one step, filled into `s`.
    bool leafStep(const Node& n, Step& s) const;
    // "c ? a : b".
    int emitChoice(const Node& n, int depth);
    // An operator other than "?": unary minus, or a fold from the left.
    int emitOperator(const Node& n, int depth);
    int emitFunction(const Node& n, int depth);
    int push(const Step& s);

    std::vector<Step> steps_;
    std::vector<int> lists_; // argument lists of max and min, as step indexes
    std::vector<const Step*> listSteps_; // the same lists as step pointers
    const Step* root_ = nullptr;
    Scope* env_ = nullptr; // while building only
};

} // namespace fieldmon::expr
