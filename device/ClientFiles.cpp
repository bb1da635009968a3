// Client's file transfer operations; the state lives in FileTransfers.
#include "device/Client.h"

namespace fieldmon {

void Client::requestFile(const std::string& name)
{
    files_.request(dictipstring_, fileString_, name);
}

} // namespace fieldmon
