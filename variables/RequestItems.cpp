#include "variables/RequestItems.h"

#include "platform/Ascii.h"
#include "variables/RequestAnswer.h"

namespace fieldmon {

std::vector<AddressItem> addressItems(std::string_view request, std::string& note)
{
    std::vector<AddressItem> items;
    std::size_t pos = 2;
    while (pos < request.size()) {
        const std::size_t itemStart = pos;
        const int code = readItemCode(request, pos);
        std::uint64_t count = 0;
        std::size_t digits = 0;
        while (pos < request.size() && ascii::isDigit(request[pos]) && digits < 12) {
            count = count * 10 + static_cast<std::uint64_t>(request[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0) {
            note = "no byte count after the index at byte " + std::to_string(itemStart);
            break;
        }
        // The index travels as its low byte; a run continues with the next indexes.
        items.push_back(AddressItem{(code - 65) & 0xFF, count});
    }
    return items;
}

std::vector<ValueItem> valueItems(std::string_view request, std::string& note)
{
    std::vector<ValueItem> items;
    std::size_t pos = 2;
    while (pos < request.size()) {
        const std::size_t itemStart = pos;
        if (request.size() - pos < 9) {
            note = "short item at byte " + std::to_string(itemStart);
            break;
        }
        std::uint32_t address = 0;
        bool ok = true;
        for (int i = 0; i < 8; ++i) {
            const int h = ascii::hexValue(request[pos + static_cast<std::size_t>(i)]);
            ok = ok && h >= 0;
            address = (address << 4) | static_cast<std::uint32_t>(h < 0 ? 0 : h);
        }
        if (!ok) {
            note = "bad address digits at byte " + std::to_string(itemStart);
            break;
        }
        pos += 8;
        const int code = readItemCode(request, pos);
        if (code < 0) {
            note = "no size character at byte " + std::to_string(itemStart + 8);
            break;
        }
        items.push_back(ValueItem{address, static_cast<std::uint32_t>((code - 65) & 0xFF)});
    }
    return items;
}

} // namespace fieldmon
