#include "sim/RecordedMemory.h"

namespace fieldmon::sim {

void RecordedMemory::write(std::uint32_t address, std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(i); // wraps like the device's counter
        Page& page = pages_[a >> 8];
        page.bytes[a & 0xFF] = static_cast<std::uint8_t>(bytes[i]);
        page.known.set(a & 0xFF);
    }
}

bool RecordedMemory::read(std::uint32_t address, std::uint32_t count, std::string& out) const
{
    const std::size_t start = out.size();
    const Page* page = nullptr;
    std::uint32_t pageNumber = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t a = address + i;
        if (!page || pageNumber != a >> 8) {
            pageNumber = a >> 8;
            auto it = pages_.find(pageNumber);
            page = it == pages_.end() ? nullptr : &it->second;
        }
        if (!page || !page->known.test(a & 0xFF)) {
            out.resize(start);
            return false;
        }
        out.push_back(static_cast<char>(page->bytes[a & 0xFF]));
    }
    return true;
}

std::optional<std::uint32_t> RecordedMemory::addressOf(int indexLowByte) const
{
    auto it = addresses_.find(indexLowByte & 0xFF);
    if (it == addresses_.end())
        return std::nullopt;
    return it->second;
}

void RecordedMemory::clear()
{
    pages_.clear();
    addresses_.clear();
}

std::size_t RecordedMemory::knownBytes() const
{
    std::size_t n = 0;
    for (const auto& [number, page] : pages_)
        n += page.known.count();
    return n;
}

} // namespace fieldmon::sim
