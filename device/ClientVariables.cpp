// Client's remote-variable operations: they forward to the variable store.
#include "device/Client.h"

#include "platform/MainLoop.h"

namespace fieldmon {

VariableStore::Link Client::variableLink()
{
    // The store lives inside this record, so the callables never outlive it.
    return VariableStore::Link{
        [this] { return debug(); },
        [this](std::string_view text) { return sendString(text); },
        [this] { return getUniqueIdentifier(); },
    };
}

void Client::parseVariableDeclaration(std::string_view text)
{
    variables_.parseVariableDeclaration(text);
}

std::vector<std::shared_ptr<RemoteData>> Client::parseVariableDeclarationArray(std::string_view text)
{
    return variables_.parseVariableDeclarationArray(text);
}

std::vector<std::string> Client::splitVariables(std::string_view text)
{
    return VariableStore::splitVariables(text);
}

std::shared_ptr<RemoteData> Client::createVar(std::string name, std::string type, std::int32_t index)
{
    return variables_.createVar(std::move(name), std::move(type), index);
}

void Client::initDataType(const std::string& name, std::string_view body)
{
    variables_.initDataType(name, body);
}

void Client::initEnumType(const std::string& name, std::string_view body)
{
    variables_.initEnumType(name, body);
}

void Client::printRemoteData() const
{
    variables_.printRemoteData();
}

void Client::queueRequest(RemoteDataRequest request)
{
    variables_.requests().queue(std::move(request));
}

bool Client::submitRequests()
{
    return variables_.requests().submitRequests();
}

std::shared_ptr<RemoteData> Client::variableNamed(const std::string& name) const
{
    return variables_.variableNamed(name);
}

void Client::addRequester(std::shared_ptr<Requester> requester)
{
    variables_.requests().waitingRequesters().push_back(std::move(requester));
}

void Client::onAddressReply(std::string_view datagram)
{
    // The task holds the record weakly: a device dropped meanwhile has nobody
    // waiting for its reply.
    services_.loop.post([weak = weak_from_this(), bytes = std::string(datagram)] {
        if (auto self = weak.lock())
            self->handleAddressReply(bytes);
    });
}

void Client::onValueReply(std::string_view datagram)
{
    services_.loop.post([weak = weak_from_this(), bytes = std::string(datagram)] {
        if (auto self = weak.lock())
            self->handleValueReply(bytes);
    });
}

void Client::handleAddressReply(std::string_view datagram)
{
    variables_.requests().handleAddressReply(datagram);
}

void Client::handleValueReply(std::string_view datagram)
{
    variables_.requests().handleValueReply(datagram);
}

void Client::storeVars(const RequestList& list, const std::uint8_t* payload, std::size_t length)
{
    variables_.requests().storeVars(list, payload, length);
}

const Client::RequestList* Client::findSentAddressRequests(char id) const
{
    return variables_.requests().findSentAddressRequests(id);
}

const Client::RequestList* Client::findSentValueRequests(char id) const
{
    return variables_.requests().findSentValueRequests(id);
}

void Client::forgetSentRequests(char id)
{
    variables_.requests().forgetSentRequests(id);
}

void Client::clearRequests()
{
    variables_.requests().clear();
}

} // namespace fieldmon
