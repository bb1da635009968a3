// The request side of expression nodes: resolving names to the device's
// variables, marking values stale, and gathering and queueing the address
// and value requests an expression needs before it can be evaluated.
#include "expr/Node.h"

#include "expr/Binding.h"
#include "expr/Scope.h"
#include "expr/RemoteAccess.h"
#include "platform/Diagnostics.h"
#include "variables/RemoteData.h"


namespace fieldmon::expr {

namespace {

void append(RequestList& to, RequestList&& from)
{
    for (auto& r : from)
        to.push_back(std::move(r));
}

void append(std::vector<std::string>& to, std::vector<std::string>&& from)
{
    for (auto& s : from)
        to.push_back(std::move(s));
}

bool isVariableKind(NodeKind k)
{
    return k == NodeKind::RemoteVariable || k == NodeKind::Element || k == NodeKind::Index;
}

} // namespace

void Node::setClientUpdate(Binding* binding)
{
    clientUpdate_ = binding;
}

// --- Resolution ------------------------------------------------------------------

void Node::updateRemoteDataWithEnvironment(Scope* env)
{
    if (!env)
        env = globalEnvironment();
    switch (kind_) {
    case NodeKind::RemoteVariable: {
        if (remoteData_ || !remoteClient_)
            return;
        // Device variables hide local variables of the same name.
        remoteData_ = remoteClient_->variableNamed(varName_);
        if (!remoteData_ && env && env->findVariable(varName_))
            kind_ = NodeKind::LocalVariable;
        if (remoteData_ || kind_ == NodeKind::LocalVariable)
            structureChanged();
        return;
    }
    case NodeKind::Element: {
        remoteData_.reset();
        if (!struct_ || !remoteClient_)
            return;
        struct_->updateRemoteDataWithEnvironment(env);
        const std::shared_ptr<RemoteData> structure = struct_->remoteData_;
        if (!structure)
            return;
        bool failed = false;
        std::shared_ptr<RemoteData> found = structureElement(*structure, element_, debug(), failed);
        if (failed) {
            becomeError();
            return;
        }
        remoteData_ = std::move(found);
        return;
    }
    case NodeKind::Index: {
        remoteData_.reset();
        if (!struct_ || !index_)
            return;
        const std::int32_t k = index_->intValueWithEnvironment(env);
        if (debug())
            diag("Evaluating an array and we are offsetting by %d\n", k);
        struct_->updateRemoteDataWithEnvironment(env);
        const std::shared_ptr<RemoteData> array = struct_->remoteData_;
        if (array && array->hasAddress())
            remoteData_ = array->arrayElement(k);
        return;
    }
    default: return;
    }
}

// --- Stale values ---------------------------------------------------------------------

bool Node::invalidateRemoteVariableValues()
{
    return invalidateRemoteVariableValuesWithEnvironment(nullptr);
}

bool Node::invalidateRemoteVariableValuesWithEnvironment(Scope* env)
{
    if (!env)
        env = globalEnvironment();
    switch (kind_) {
    case NodeKind::RemoteVariable:
    case NodeKind::Element:
    case NodeKind::Index: {
        NodePtr hold = shared_from_this();
        updateRemoteDataWithEnvironment(env);
        if (remoteData_)
            remoteData_->invalidate();
        if (kind_ == NodeKind::Element && !isStatic())
            struct_->invalidateRemoteVariableValuesWithEnvironment(env);
        if (kind_ == NodeKind::Index && !isStatic())
            index_->invalidateRemoteVariableValuesWithEnvironment(env);
        return true;
    }
    case NodeKind::Operator:
    case NodeKind::Function: {
        const std::vector<NodePtr> args = args_;
        bool any = false;
        for (const NodePtr& a : args)
            any = a->invalidateRemoteVariableValuesWithEnvironment(env) || any;
        return any;
    }
    case NodeKind::LocalVariable: return true;
    default: return false;
    }
}

// --- Requests -----------------------------------------------------------------------

RequestList Node::prepForEval()
{
    return prepForEvalWithEnvironment(nullptr);
}

RequestList Node::prepForEvalWithEnvironment(Scope* env)
{
    if (!env)
        env = globalEnvironment();
    NodePtr hold = shared_from_this();
    RequestList out;
    switch (kind_) {
    case NodeKind::RemoteVariable:
        updateRemoteDataWithEnvironment(env);
        if (kind_ == NodeKind::RemoteVariable && remoteData_ && !remoteData_->hasAddress())
            out.push_back(remoteData_->addressRequest());
        break;
    case NodeKind::Element:
        if (struct_)
            out = struct_->prepForEvalWithEnvironment(env);
        updateRemoteDataWithEnvironment(env);
        break;
    case NodeKind::Index: {
        if (!struct_ || !index_)
            break;
        const NodeKind base = struct_->type();
        if (base != NodeKind::RemoteVariable && base != NodeKind::Element) {
            diag("Error: '%s' Unsupported Opperation, an unsupported base '%d' as the structure to get an "
                 "element of\n",
                 string().c_str(), static_cast<int>(base));
            becomeError();
            break;
        }
        // The index's address requests, or else its value requests (which is
        // what requestVariables gives; calling prepForEval first as well
        // would double the work at every level of nested indexes).
        out = index_->requestVariablesWithEnvironment(env);
        append(out, struct_->prepForEvalWithEnvironment(env));
        if (out.empty())
            updateRemoteDataWithEnvironment(env);
        break;
    }
    case NodeKind::Operator:
    case NodeKind::Function: {
        if (kind_ == NodeKind::Operator && op_ == Operator::Choose) {
            if (args_.empty())
                break;
            out = args_[0]->prepForEvalWithEnvironment(env);
            if (!out.empty() || args_.size() < 2)
                break;
            // No branch is chosen before the condition's values are in.
            if (!args_[0]->valuesPresent())
                break;
            const NodePtr& colon = args_[1];
            if (colon->type() != NodeKind::Operator || colon->operatorKind() != Operator::Branches || colon->args().size() < 2)
                break;
            NodePtr branch = colon->args()[args_[0]->intValueWithEnvironment(env) != 0 ? 0 : 1];
            out = branch->prepForEvalWithEnvironment(env);
            break;
        }
        const std::vector<NodePtr> args = args_;
        for (const NodePtr& a : args)
            append(out, a->prepForEvalWithEnvironment(env));
        break;
    }
    case NodeKind::LocalVariable:
    case NodeKind::Integer:
    case NodeKind::Double:
    case NodeKind::String: break;
    case NodeKind::Error: diag("Error: Evaluating an error\n"); break;
    case NodeKind::Plain:
    case NodeKind::Environment: diag("Error: Unknown type\n"); break;
    }
    return out;
}

bool Node::valuesPresent() const
{
    // A plain walk: it builds no requests and resolves nothing, so that
    // asking it at every level of nested conditionals stays linear.
    switch (kind_) {
    case NodeKind::RemoteVariable:
    case NodeKind::Element:
    case NodeKind::Index:
        if (!remoteData_ || remoteData_->invalid())
            return false;
        return (!struct_ || struct_->valuesPresent()) && (!index_ || index_->valuesPresent());
    case NodeKind::Operator:
    case NodeKind::Function:
        for (const NodePtr& a : args_)
            if (!a->valuesPresent())
                return false;
        return true;
    default: return true;
    }
}

RequestList Node::requestVariables()
{
    return requestVariablesWithEnvironment(nullptr);
}

RequestList Node::requestVariablesWithEnvironment(Scope* env)
{
    if (!env)
        env = globalEnvironment();
    NodePtr hold = shared_from_this();
    RequestList out = prepForEvalWithEnvironment(env);
    if (!out.empty())
        return out;
    if (isVariableKind(kind_)) {
        if (remoteData_ && remoteData_->invalid())
            out.push_back(remoteData_->varRequest());
        return out;
    }
    if (kind_ != NodeKind::Operator && kind_ != NodeKind::Function)
        return out;
    if (kind_ == NodeKind::Operator && op_ == Operator::Branches) {
        diag("ERROR: Never request variables on a ':'\n");
        return out;
    }
    if (kind_ == NodeKind::Operator && op_ == Operator::Choose) {
        if (args_.empty())
            return out;
        out = args_[0]->requestVariablesWithEnvironment(env);
        if (!out.empty() || args_.size() < 2)
            return out;
        // The condition's values are in: ask only for the branch it selects.
        const NodePtr& colon = args_[1];
        if (colon->type() != NodeKind::Operator || colon->operatorKind() != Operator::Branches || colon->args().size() < 2)
            return out;
        NodePtr branch = colon->args()[args_[0]->intValueWithEnvironment(env) != 0 ? 0 : 1];
        return branch->requestVariablesWithEnvironment(env);
    }
    const std::vector<NodePtr> args = args_;
    for (const NodePtr& a : args)
        append(out, a->requestVariablesWithEnvironment(env));
    return out;
}

int Node::queueVariableRequests()
{
    // The record's global environment is passed explicitly, so that an
    // environment node takes it as its parent.
    return queueVariableRequestsWithEnvironment(globalEnvironment());
}

int Node::queueVariableRequestsWithEnvironment(Scope* env)
{
    if (!env)
        env = globalEnvironment();
    NodePtr hold = shared_from_this();
    if (kind_ == NodeKind::Error) {
        if (clientUpdate_)
            clientUpdate_->updateTarget();
        return 0;
    }
    RequestList requests = requestVariablesWithEnvironment(env);
    const int count = static_cast<int>(requests.size());
    // Only an expression that is waiting for a reply is recorded as a
    // requester of the next datagram. One with nothing to ask for is told
    // below at once; recording it too would tell it a second time when some
    // other expression's reply comes in, and would keep it (and through it
    // this record) alive until then.
    if (remoteClient_ && count > 0) {
        remoteClient_->addRequester(hold);
        for (auto& r : requests)
            remoteClient_->queueRequest(std::move(r));
    }
    if (debug())
        diag("There are '%d' vars in this request\n", count);
    if (count == 0 && requeue_ && clientUpdate_)
        clientUpdate_->updateTarget();
    return count;
}

void Node::submitRequests()
{
    if (remoteClient_)
        remoteClient_->submitRequests();
}

// --- Diagnostics ------------------------------------------------------------------------

std::vector<std::string> Node::staticPart()
{
    return staticPartWithEnvironment(nullptr);
}

std::vector<std::string> Node::staticPartWithEnvironment(Scope* env)
{
    if (!env)
        env = globalEnvironment();
    std::vector<std::string> out;
    switch (kind_) {
    case NodeKind::RemoteVariable:
        updateRemoteDataWithEnvironment(env);
        if (kind_ == NodeKind::RemoteVariable)
            out.push_back(string());
        break;
    case NodeKind::Element:
    case NodeKind::Index:
        if (isStatic()) {
            out.push_back(string());
            break;
        }
        if (struct_)
            append(out, struct_->staticPartWithEnvironment(env));
        if (index_)
            append(out, index_->staticPartWithEnvironment(env));
        break;
    case NodeKind::Operator:
    case NodeKind::Function: {
        const std::vector<NodePtr> args = args_;
        for (const NodePtr& a : args)
            append(out, a->staticPartWithEnvironment(env));
        break;
    }
    default: break;
    }
    return out;
}

std::vector<std::string> Node::remoteNotifications()
{
    return remoteNotificationsWithEnvironment(nullptr);
}

std::vector<std::string> Node::remoteNotificationsWithEnvironment(Scope* env)
{
    return staticPartWithEnvironment(env);
}

} // namespace fieldmon::expr
