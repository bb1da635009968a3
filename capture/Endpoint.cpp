#include "capture/Endpoint.h"

#include <arpa/inet.h>

namespace fieldmon::capture {

std::string dottedAddress(std::uint32_t address)
{
    in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool parseDottedAddress(const std::string& text, std::uint32_t& address)
{
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    address = ntohl(a.s_addr);
    return true;
}

} // namespace fieldmon::capture
