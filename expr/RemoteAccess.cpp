#include "expr/RemoteAccess.h"

#include "device/Client.h"

namespace fieldmon::expr {

std::shared_ptr<RemoteData> findRemoteVariable(Client&, const std::string&)
{
    return nullptr;
}

Value remoteValue(RemoteData&)
{
    return Value::error();
}

bool remoteNumber(RemoteData&, bool&, std::int32_t&, double&)
{
    return false;
}

bool remoteHasAddress(RemoteData&)
{
    return false;
}

bool remoteInvalid(RemoteData&)
{
    return true;
}

void remoteInvalidate(RemoteData&) {}

std::shared_ptr<RemoteDataRequest> remoteAddressRequest(RemoteData&)
{
    return nullptr;
}

std::shared_ptr<RemoteDataRequest> remoteValueRequest(RemoteData&)
{
    return nullptr;
}

std::shared_ptr<RemoteData> structureElement(Client&, RemoteData&, const std::string&, bool& failed)
{
    failed = true;
    return nullptr;
}

std::shared_ptr<RemoteData> arrayElement(RemoteData&, std::int32_t)
{
    return nullptr;
}

void queueRequest(Client&, std::shared_ptr<RemoteDataRequest>) {}
void addRequester(Client&, std::shared_ptr<Requester>) {}
void submitClientRequests(Client&) {}

} // namespace fieldmon::expr
