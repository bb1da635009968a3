// Client's file transfer operations; the state lives in FileTransfers.
#include "device/Client.h"

namespace fieldmon {

FileTransfers::Handle Client::requestFile(const std::string& name, FileTransfers::Completion done)
{
    return files_.request(dictipstring_, fileString_, name, std::move(done));
}

void Client::requestFile(const std::string& name)
{
    files_.request(dictipstring_, fileString_, name);
}

} // namespace fieldmon
