#pragma once
// Scope: a scope of named local variables with a parent
// scope, which can also wrap an expression so that the expression is
// evaluated inside the scope. Each device record has a global environment
// (no parent, no expression) holding the predefined names; widgets that run
// commands with parameters (a switch's state, a table row's index, a
// joystick's position) wrap their compiled command in an environment, bind the
// parameter in it and schedule the environment instead of the bare expression.
//
// Scoping is dynamic: every operation that is given an environment makes that
// environment the parent before it runs the wrapped expression with this one,
// so the chain a wrapped expression sees is the wrapper's own scope, then the
// caller's, then (through it) the global environment. The twins without an
// environment keep the parent as it is. A device variable of the same name
// hides a local variable (the expression nodes look at the device first).
//
// Ownership: the bound values, the wrapped expression and the parent given at
// construction (or by setSuperEnvironment) are held. A parent adopted from a
// caller is not: the caller often holds this environment (a wrapper calls
// what it wraps with itself as the environment), so holding it back would be
// a reference cycle. The caller is alive during the call; once it is gone,
// lookups go to the held parent again. An environment given itself as parent
// prints "Bad idea" and does not hold itself; its lookups then print
// "Hmm.  Super is self" and stop at its own scope.
//
// Thread rule: main thread only.

#include "expr/Node.h"

#include <map>
#include <string>
#include <string_view>

namespace fieldmon::expr {

class Scope : public Node {
public:
    using Ptr = std::shared_ptr<Scope>;
    // Lookups and descriptions follow at most this many parents.
    static constexpr int kMaxChain = 256;

    // The record's own global environment: no record, no parent.
    static Ptr createGlobal();
    // Parent: the record's global environment.
    static Ptr create(ClientPtr client, NodePtr expr = nullptr);
    // Explicit parent (nullptr: none).
    static Ptr create(ClientPtr client, Ptr parent, NodePtr expr);

    // Binds `name` in this scope; a null value removes the binding.
    void setVariable(const std::string& name, NodePtr value);
    // This scope first, then the parent chain; null when nobody binds it.
    NodePtr getVariable(std::string_view name) const;
    // As getVariable without taking a reference (for evaluation).
    Node* findVariable(std::string_view name) const;

    // The parent lookups go to: the caller's scope adopted last while it
    // lives, else the held one.
    Ptr superEnvironment() const;
    // Makes `parent` the held parent; "Bad idea" when it is this environment.
    void setSuperEnvironment(Scope* parent);
    const NodePtr& expression() const { return expr_; }

    // --- Forwards to the wrapped expression -------------------------------------
    std::string description() const override;
    std::string string() const override;
    NodeKind type() const override;
    int order() const override;
    bool hasArgs() const override;
    void addArg(NodePtr arg) override;
    bool isConst() const override;
    bool isStatic() const override;
    void setInteger(std::int32_t v) override;
    void setDouble(double v) override;
    void setString(std::string s) override;
    void becomeInteger() override {}
    void becomeDouble() override {}
    void becomeString() override {}
    void becomeError() override {}

    Value evalWithEnvironment(Scope* env) override;
    std::string stringValueWithEnvironment(Scope* env) override;
    double doubleValueWithEnvironment(Scope* env) override;
    std::int32_t intValueWithEnvironment(Scope* env) override;
    void simplifyWithEnvironment(Scope* env) override;

    RequestList prepForEvalWithEnvironment(Scope* env) override;
    bool invalidateRemoteVariableValuesWithEnvironment(Scope* env) override;
    RequestList requestVariablesWithEnvironment(Scope* env) override;
    int queueVariableRequestsWithEnvironment(Scope* env) override;
    std::vector<std::string> staticPartWithEnvironment(Scope* env) override;
    std::vector<std::string> remoteNotificationsWithEnvironment(Scope* env) override;

private:
    explicit Scope(ClientPtr client);
    // Adopts `env` as parent when one is given (the "WithEnvironment" rule).
    void adopt(Scope* env);

    // The parent lookups go to, without taking a reference.
    const Scope* parent() const;
    std::string describe(int depth) const;

    Ptr superEnv_;
    // The caller's scope adopted last; `adopted_` is valid while `adoptedLife_`
    // has not expired.
    const Scope* adopted_ = nullptr;
    std::weak_ptr<Node> adoptedLife_;
    bool superIsSelf_ = false;
    std::map<std::string, NodePtr, std::less<>> env_;
    NodePtr expr_;
};

} // namespace fieldmon::expr
