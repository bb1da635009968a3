#include "sim/Flood.h"

namespace fieldmon::sim {

std::string Flood::bytes(std::size_t count)
{
    std::string out(count, '\0');
    for (char& c : out)
        c = static_cast<char>(random_() & 0xFF);
    return out;
}

std::size_t Flood::length(std::size_t low, std::size_t high)
{
    return std::uniform_int_distribution<std::size_t>(low, high)(random_);
}

std::string Flood::next()
{
    switch (turn_++ % 8) {
    case 0: // a kind nobody knows, with a body: the app dumps it
        return std::string(1, static_cast<char>('B' + random_() % 3)) + bytes(length(1, 64));
    case 1: // a reply under an identifier that was never asked for
        return "V" + std::string(1, static_cast<char>('a' + random_() % 28)) + bytes(length(0, 1020));
    case 2:
        return "A" + std::string(1, static_cast<char>('a' + random_() % 28)) + bytes(length(0, 1020));
    case 3: // a presence answer that is too long
        return "i" + bytes(length(1, 32));
    case 4:
        return {};
    case 5: // larger than the app reads (1023 bytes)
        return bytes(1400);
    case 6: // an event line of random bytes, 0 bytes included
        return "e" + bytes(length(0, 200));
    default: { // an announcement whose fields are hostile
        std::string text = "m" + bytes(length(0, 40)) + ";" + bytes(length(0, 40)) + ";" + bytes(length(0, 300));
        return text + ";" + std::to_string(static_cast<int>(random_())) + ";99999999999999999999;-7";
    }
    }
}

} // namespace fieldmon::sim
