#include "discovery/DatagramDump.h"

#include <cstdio>

namespace fieldmon {

std::string datagramDump(std::string_view datagram)
{
    std::string out;
    out.reserve(32 + datagram.size() * 11);
    char piece[32];
    std::snprintf(piece, sizeof piece, "recsize: %d\n ", static_cast<int>(datagram.size()));
    out += piece;
    out += "datagram:";
    for (char c : datagram) {
        std::snprintf(piece, sizeof piece, " 0x%2.2x", static_cast<unsigned char>(c));
        out += piece;
    }
    out += "\n         ";
    for (char c : datagram) {
        std::snprintf(piece, sizeof piece, "   %d", static_cast<unsigned char>(c));
        out += piece;
    }
    out += '\n';
    return out;
}

} // namespace fieldmon
