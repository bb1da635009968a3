#pragma once
// The few things expression nodes need from the device's variable store and
// request queues: finding a declared variable by name, reading a variable's
// value, the element variables of structures and arrays, and queueing
// requests. Kept in one place so that the nodes do not depend on how the
// store is laid out.
//
// Thread rule: main thread only.

#include "expr/ClientData.h"
#include "expr/Value.h"

#include <cstdint>
#include <memory>
#include <string>

namespace fieldmon::expr {

// The device's variable of that name, or null.
std::shared_ptr<RemoteData> findRemoteVariable(Client& client, const std::string& name);

// The variable's value as an expression value (its buffer, valid or not).
Value remoteValue(RemoteData& var);

// The same value when it is a number, without allocating; false for texts,
// errors and types that need a diagnostic.
bool remoteNumber(RemoteData& var, bool& isInt, std::int32_t& i, double& d);

bool remoteHasAddress(RemoteData& var);
bool remoteInvalid(RemoteData& var);
void remoteInvalidate(RemoteData& var);
std::shared_ptr<RemoteDataRequest> remoteAddressRequest(RemoteData& var);
std::shared_ptr<RemoteDataRequest> remoteValueRequest(RemoteData& var);

// The element variable `element` of structure variable `structure`, or null
// with `failed` set (after the message) when the type is not a structure or
// has no such member, or null without `failed` while the structure has no
// address yet.
std::shared_ptr<RemoteData> structureElement(Client& client, RemoteData& structure, const std::string& element,
                                             bool& failed);
// Element k of an array variable that has an address (k <= 0: the variable).
std::shared_ptr<RemoteData> arrayElement(RemoteData& array, std::int32_t k);

// Files a request on the device's address queue or value queue, as the
// request says, and records a requester of the next datagram.
void queueRequest(Client& client, std::shared_ptr<RemoteDataRequest> request);
void addRequester(Client& client, std::shared_ptr<Requester> requester);
void submitClientRequests(Client& client);

} // namespace fieldmon::expr
