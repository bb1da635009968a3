#include "expr/Scope.h"

#include "platform/Diagnostics.h"

#include <cstdio>

namespace fieldmon::expr {

Scope::Scope(ClientPtr client) : Node(std::move(client), NodeKind::Environment) {}

Scope::Ptr Scope::createGlobal()
{
    return Ptr(new Scope(nullptr));
}

Scope::Ptr Scope::create(ClientPtr client, NodePtr expr)
{
    Ptr parent = client ? client->environment() : nullptr;
    return create(std::move(client), std::move(parent), std::move(expr));
}

Scope::Ptr Scope::create(ClientPtr client, Ptr parent, NodePtr expr)
{
    Ptr e(new Scope(std::move(client)));
    e->superEnv_ = std::move(parent);
    e->expr_ = std::move(expr);
    return e;
}

void Scope::setSuperEnvironment(Scope* parent)
{
    adopted_ = nullptr;
    adoptedLife_.reset();
    if (parent == this) {
        diag("Bad idea\n");
        superEnv_.reset();
        superIsSelf_ = true;
        return;
    }
    superIsSelf_ = false;
    if (superEnv_.get() == parent)
        return;
    superEnv_ = parent ? std::static_pointer_cast<Scope>(parent->shared_from_this()) : nullptr;
}

void Scope::adopt(Scope* env)
{
    if (!env)
        return;
    if (env == this) {
        setSuperEnvironment(env);
        return;
    }
    superIsSelf_ = false;
    if (env == superEnv_.get()) {
        adopted_ = nullptr;
        adoptedLife_.reset();
        return;
    }
    if (env == adopted_ && !adoptedLife_.expired())
        return;
    adopted_ = env;
    adoptedLife_ = env->weak_from_this();
}

const Scope* Scope::parent() const
{
    if (superIsSelf_)
        return this;
    if (adopted_ && !adoptedLife_.expired())
        return adopted_;
    return superEnv_.get();
}

Scope::Ptr Scope::superEnvironment() const
{
    const Scope* p = parent();
    if (!p || p == this)
        return nullptr;
    return std::static_pointer_cast<Scope>(
        std::const_pointer_cast<Node>(p->shared_from_this()));
}

void Scope::setVariable(const std::string& name, NodePtr value)
{
    if (!value) {
        env_.erase(name);
        return;
    }
    env_.insert_or_assign(name, std::move(value));
}

Node* Scope::findVariable(std::string_view name) const
{
    // Walk the chain without recursion; it is as long as the nesting of
    // wrappers, and a scope that is its own parent stops the walk.
    // A chain made of adopted callers can loop back (a scope adopting one of
    // its own callers); the walk is bounded by the chain's length.
    int steps = 0;
    for (const Scope* e = this; e && steps < kMaxChain; e = e->parent(), ++steps) {
        auto it = e->env_.find(name);
        if (it != e->env_.end())
            return it->second.get();
        if (e->superIsSelf_) {
            diag("Hmm.  Super is self\n");
            return nullptr;
        }
    }
    return nullptr;
}

NodePtr Scope::getVariable(std::string_view name) const
{
    Node* found = findVariable(name);
    return found ? found->shared_from_this() : nullptr;
}

// --- Forwards ----------------------------------------------------------------------

std::string Scope::description() const
{
    return describe(0);
}

std::string Scope::describe(int depth) const
{
    char head[64];
    std::snprintf(head, sizeof head, "<ClientDataEnvironment: 0x%x superenv=",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this)));
    std::string s = head;
    const Scope* p = parent();
    if (superIsSelf_)
        s += "(self)";
    else if (!p)
        s += "(null)";
    else if (depth >= kMaxChain)
        s += "...";
    else
        s += p->describe(depth + 1);
    s += " env={";
    for (const auto& [name, value] : env_)
        s += "\n    " + name + " = " + value->description() + ";";
    s += env_.empty() ? "}" : "\n}";
    s += " expr=" + (expr_ ? expr_->description() : std::string("(null)")) + ">";
    return s;
}

std::string Scope::string() const
{
    return expr_ ? expr_->string() : std::string();
}

NodeKind Scope::type() const
{
    return expr_ ? expr_->type() : NodeKind::Plain;
}

int Scope::order() const
{
    return expr_ ? expr_->order() : 0;
}

bool Scope::hasArgs() const
{
    return expr_ && expr_->hasArgs();
}

void Scope::addArg(NodePtr arg)
{
    if (expr_)
        expr_->addArg(std::move(arg));
}

bool Scope::isConst() const
{
    return expr_ && expr_->isConst();
}

bool Scope::isStatic() const
{
    return !expr_ || expr_->isStatic();
}

void Scope::setInteger(std::int32_t v)
{
    if (expr_)
        expr_->setInteger(v);
}

void Scope::setDouble(double v)
{
    if (expr_)
        expr_->setDouble(v);
}

void Scope::setString(std::string s)
{
    if (expr_)
        expr_->setString(std::move(s));
}

Value Scope::evalWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ ? expr_->evalWithEnvironment(this) : Value();
}

std::string Scope::stringValueWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ ? expr_->stringValueWithEnvironment(this) : std::string();
}

double Scope::doubleValueWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ ? expr_->doubleValueWithEnvironment(this) : 0.0;
}

std::int32_t Scope::intValueWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ ? expr_->intValueWithEnvironment(this) : 0;
}

void Scope::simplifyWithEnvironment(Scope* env)
{
    adopt(env);
    if (expr_)
        expr_->simplifyWithEnvironment(this);
}

RequestList Scope::prepForEvalWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ ? expr_->prepForEvalWithEnvironment(this) : RequestList();
}

bool Scope::invalidateRemoteVariableValuesWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ && expr_->invalidateRemoteVariableValuesWithEnvironment(this);
}

RequestList Scope::requestVariablesWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ ? expr_->requestVariablesWithEnvironment(this) : RequestList();
}

int Scope::queueVariableRequestsWithEnvironment(Scope* env)
{
    // The environment itself is what gets re-queued when the reply is in, so
    // the base behaviour runs here with this node as the requester.
    adopt(env);
    return Node::queueVariableRequestsWithEnvironment(env);
}

std::vector<std::string> Scope::staticPartWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ ? expr_->staticPartWithEnvironment(this) : std::vector<std::string>();
}

std::vector<std::string> Scope::remoteNotificationsWithEnvironment(Scope* env)
{
    adopt(env);
    return expr_ ? expr_->remoteNotificationsWithEnvironment(this) : std::vector<std::string>();
}

} // namespace fieldmon::expr
