#include "expr/ClientDataEnvironment.h"

#include <cstdio>

namespace fieldmon::expr {

ClientDataEnvironment::ClientDataEnvironment(ClientPtr client) : ClientData(std::move(client), NodeKind::Environment) {}

ClientDataEnvironment::Ptr ClientDataEnvironment::createGlobal()
{
    return Ptr(new ClientDataEnvironment(nullptr));
}

ClientDataEnvironment::Ptr ClientDataEnvironment::create(ClientPtr client, NodePtr expr)
{
    Ptr parent = client ? client->environment() : nullptr;
    return create(std::move(client), std::move(parent), std::move(expr));
}

ClientDataEnvironment::Ptr ClientDataEnvironment::create(ClientPtr client, Ptr parent, NodePtr expr)
{
    Ptr e(new ClientDataEnvironment(std::move(client)));
    e->superEnv_ = std::move(parent);
    e->expr_ = std::move(expr);
    return e;
}

void ClientDataEnvironment::setSuperEnvironment(ClientDataEnvironment* parent)
{
    adopted_ = nullptr;
    adoptedLife_.reset();
    if (parent == this) {
        std::printf("Bad idea\n");
        superEnv_.reset();
        superIsSelf_ = true;
        return;
    }
    superIsSelf_ = false;
    if (superEnv_.get() == parent)
        return;
    superEnv_ = parent ? std::static_pointer_cast<ClientDataEnvironment>(parent->shared_from_this()) : nullptr;
}

void ClientDataEnvironment::adopt(ClientDataEnvironment* env)
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

const ClientDataEnvironment* ClientDataEnvironment::parent() const
{
    if (superIsSelf_)
        return this;
    if (adopted_ && !adoptedLife_.expired())
        return adopted_;
    return superEnv_.get();
}

ClientDataEnvironment::Ptr ClientDataEnvironment::superEnvironment() const
{
    const ClientDataEnvironment* p = parent();
    if (!p || p == this)
        return nullptr;
    return std::static_pointer_cast<ClientDataEnvironment>(
        std::const_pointer_cast<ClientData>(p->shared_from_this()));
}

void ClientDataEnvironment::setVariable(const std::string& name, NodePtr value)
{
    if (!value) {
        env_.erase(name);
        return;
    }
    env_.insert_or_assign(name, std::move(value));
}

ClientData* ClientDataEnvironment::findVariable(std::string_view name) const
{
    // Walk the chain without recursion; it is as long as the nesting of
    // wrappers, and a scope that is its own parent stops the walk.
    // A chain made of adopted callers can loop back (a scope adopting one of
    // its own callers); the walk is bounded by the chain's length.
    int steps = 0;
    for (const ClientDataEnvironment* e = this; e && steps < kMaxChain; e = e->parent(), ++steps) {
        auto it = e->env_.find(name);
        if (it != e->env_.end())
            return it->second.get();
        if (e->superIsSelf_) {
            std::printf("Hmm.  Super is self\n");
            return nullptr;
        }
    }
    return nullptr;
}

NodePtr ClientDataEnvironment::getVariable(std::string_view name) const
{
    ClientData* found = findVariable(name);
    return found ? found->shared_from_this() : nullptr;
}

// --- Forwards ----------------------------------------------------------------------

std::string ClientDataEnvironment::description() const
{
    return describe(0);
}

std::string ClientDataEnvironment::describe(int depth) const
{
    char head[64];
    std::snprintf(head, sizeof head, "<ClientDataEnvironment: 0x%x superenv=",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this)));
    std::string s = head;
    const ClientDataEnvironment* p = parent();
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

std::string ClientDataEnvironment::string() const
{
    return expr_ ? expr_->string() : std::string();
}

NodeKind ClientDataEnvironment::type() const
{
    return expr_ ? expr_->type() : NodeKind::Plain;
}

int ClientDataEnvironment::order() const
{
    return expr_ ? expr_->order() : 0;
}

bool ClientDataEnvironment::hasArgs() const
{
    return expr_ && expr_->hasArgs();
}

void ClientDataEnvironment::addArg(NodePtr arg)
{
    if (expr_)
        expr_->addArg(std::move(arg));
}

bool ClientDataEnvironment::isConst() const
{
    return expr_ && expr_->isConst();
}

bool ClientDataEnvironment::isStatic() const
{
    return !expr_ || expr_->isStatic();
}

void ClientDataEnvironment::setInteger(std::int32_t v)
{
    if (expr_)
        expr_->setInteger(v);
}

void ClientDataEnvironment::setDouble(double v)
{
    if (expr_)
        expr_->setDouble(v);
}

void ClientDataEnvironment::setString(std::string s)
{
    if (expr_)
        expr_->setString(std::move(s));
}

Value ClientDataEnvironment::evalWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ ? expr_->evalWithEnvironment(this) : Value();
}

std::string ClientDataEnvironment::stringValueWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ ? expr_->stringValueWithEnvironment(this) : std::string();
}

double ClientDataEnvironment::doubleValueWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ ? expr_->doubleValueWithEnvironment(this) : 0.0;
}

std::int32_t ClientDataEnvironment::intValueWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ ? expr_->intValueWithEnvironment(this) : 0;
}

void ClientDataEnvironment::simplifyWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    if (expr_)
        expr_->simplifyWithEnvironment(this);
}

RequestList ClientDataEnvironment::prepForEvalWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ ? expr_->prepForEvalWithEnvironment(this) : RequestList();
}

bool ClientDataEnvironment::invalidateRemoteVariableValuesWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ && expr_->invalidateRemoteVariableValuesWithEnvironment(this);
}

RequestList ClientDataEnvironment::requestVariablesWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ ? expr_->requestVariablesWithEnvironment(this) : RequestList();
}

int ClientDataEnvironment::queueVariableRequestsWithEnvironment(ClientDataEnvironment* env)
{
    // The environment itself is what gets re-queued when the reply is in, so
    // the base behaviour runs here with this node as the requester.
    adopt(env);
    return ClientData::queueVariableRequestsWithEnvironment(env);
}

std::vector<std::string> ClientDataEnvironment::staticPartWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ ? expr_->staticPartWithEnvironment(this) : std::vector<std::string>();
}

std::vector<std::string> ClientDataEnvironment::remoteNotificationsWithEnvironment(ClientDataEnvironment* env)
{
    adopt(env);
    return expr_ ? expr_->remoteNotificationsWithEnvironment(this) : std::vector<std::string>();
}

} // namespace fieldmon::expr
