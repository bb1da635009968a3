#include "sim/DeviceMemory.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace fieldmon::sim {

namespace {

int decimalsOf(const std::string& type)
{
    if (type == "DEC10")
        return 10;
    if (type == "DEC100")
        return 100;
    if (type == "DEC1000")
        return 1000;
    return 0;
}

bool isFloatType(const std::string& type) { return type == "float"; }

std::int64_t roundToInt(double v)
{
    if (std::isnan(v))
        return 0;
    v = std::clamp(v, -9.0e18, 9.0e18);
    return static_cast<std::int64_t>(std::llround(v));
}

std::uint32_t alignUp(std::uint32_t v, std::uint32_t align) { return (v + align - 1) / align * align; }

} // namespace

DeviceMemory::DeviceMemory() = default;

void DeviceMemory::layout(const std::vector<DeclaredVariable>& vars, const DeviceConfig& config,
                          std::vector<std::string>& errors)
{
    vars_.clear();
    byIndex_.clear();
    const std::uint32_t align = static_cast<std::uint32_t>(std::max(1, config.align));
    std::uint32_t next = alignUp(config.memoryBase, align);

    auto specFor = [&](const std::string& name) -> const VariableSpec* {
        for (const VariableSpec& s : config.variables)
            if (s.name == name)
                return &s;
        return nullptr;
    };

    for (const DeclaredVariable& d : vars) {
        VariableLayout v;
        v.decl = d;
        const VariableSpec* spec = specFor(d.name);
        if (spec)
            v.length = std::max(1, spec->length);
        const std::uint64_t bytes = std::uint64_t(d.size) * std::uint64_t(v.length);
        std::uint64_t at = next;
        if (spec && spec->address)
            at = *spec->address;
        if (at + bytes > kSize) {
            errors.push_back("variable " + d.name + " does not fit in the 64 KiB memory");
            at = 0;
            v.length = 1;
        } else if (!(spec && spec->address)) {
            next = alignUp(static_cast<std::uint32_t>(at + std::max<std::uint64_t>(bytes, 1)), align);
        }
        v.address = static_cast<std::uint32_t>(at);
        if (d.index != DeclaredVariable::kNoIndex && !byIndex_.count(d.index & 0xFF))
            byIndex_[d.index & 0xFF] = v.address;
        vars_.push_back(std::move(v));
    }
    for (const VariableLayout& v : vars_)
        if (v.decl.index == DeclaredVariable::kNoIndex && !byIndex_.count(0))
            byIndex_[0] = v.address;

    // Pinned variables must not overlap laid-out ones: a device author who pins
    // addresses wants to know when two variables share bytes.
    for (std::size_t i = 0; i < vars_.size(); ++i)
        for (std::size_t j = i + 1; j < vars_.size(); ++j) {
            const auto& a = vars_[i];
            const auto& b = vars_[j];
            std::uint32_t aEnd = a.address + a.decl.size * a.length;
            std::uint32_t bEnd = b.address + b.decl.size * b.length;
            if (a.decl.size && b.decl.size && a.address < bEnd && b.address < aEnd && a.address && b.address)
                errors.push_back("variables " + a.decl.name + " and " + b.decl.name + " overlap in memory");
        }
}

const VariableLayout* DeviceMemory::find(std::string_view name) const
{
    for (const VariableLayout& v : vars_)
        if (v.decl.name == name)
            return &v;
    return nullptr;
}

std::uint32_t DeviceMemory::addressOfIndex(int lowByte) const
{
    auto it = byIndex_.find(lowByte & 0xFF);
    return it == byIndex_.end() ? 0 : it->second;
}

void DeviceMemory::read(std::uint64_t address, std::uint64_t count, std::string& out) const
{
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t a = address + i;
        out.push_back(a < kSize ? static_cast<char>(bytes_[a]) : '\0');
    }
}

void DeviceMemory::write(std::uint32_t address, const void* data, std::size_t count)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < count && address + i < kSize; ++i)
        bytes_[address + i] = p[i];
}

bool DeviceMemory::encode(const std::string& type, std::uint32_t size, const std::map<std::string, int>& enumerators,
                          const SimValue& value, std::vector<std::uint8_t>& out, std::string& why)
{
    out.assign(size, 0);
    if (size == 0) {
        why = "type '" + type + "' has no storage";
        return false;
    }
    if (type == "IP_ADDR") {
        in_addr a{};
        if (value.isText) {
            if (inet_pton(AF_INET, value.text.c_str(), &a) != 1) {
                why = "'" + value.text + "' is no dotted address";
                return false;
            }
            std::memcpy(out.data(), &a, std::min<std::size_t>(4, size));
            return true;
        }
    }
    double number = value.number;
    if (value.isText) {
        auto e = enumerators.find(value.text);
        if (e != enumerators.end()) {
            number = e->second;
        } else {
            char* end = nullptr;
            number = std::strtod(value.text.c_str(), &end);
            if (value.text.empty() || *end != '\0') {
                why = "'" + value.text + "' is not a value of type " + type;
                return false;
            }
        }
    }
    if (isFloatType(type) && size >= 4) {
        float f = static_cast<float>(number);
        std::memcpy(out.data(), &f, 4);
        return true;
    }
    if (int scale = decimalsOf(type))
        number *= scale;
    std::uint64_t raw = static_cast<std::uint64_t>(roundToInt(number));
    for (std::uint32_t i = 0; i < size && i < 8; ++i)
        out[i] = static_cast<std::uint8_t>(raw >> (8 * i));
    return true;
}

std::optional<DeviceMemory::Target> DeviceMemory::resolve(std::string_view path, std::string& why) const
{
    // base[.member][[k]] or base[k]
    std::string_view rest = path;
    std::size_t cut = rest.find_first_of(".[");
    std::string_view base = rest.substr(0, cut);
    const VariableLayout* v = find(base);
    if (!v) {
        why = "no variable named '" + std::string(base) + "' is declared";
        return std::nullopt;
    }
    Target t{v->decl.type, v->address, v->decl.size, &v->decl.enumerators};
    rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut);
    if (!rest.empty() && rest[0] == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            why = "missing ']' in '" + std::string(path) + "'";
            return std::nullopt;
        }
        int k = std::atoi(std::string(rest.substr(1, close - 1)).c_str());
        if (k < 0 || k >= v->length) {
            why = "element " + std::to_string(k) + " of '" + std::string(base) + "' is not reserved (length " +
                  std::to_string(v->length) + ")";
            return std::nullopt;
        }
        t.address += static_cast<std::uint32_t>(k) * v->decl.size;
        rest = rest.substr(close + 1);
    }
    if (!rest.empty() && rest[0] == '.') {
        std::string_view member = rest.substr(1);
        for (const auto& m : v->decl.members)
            if (m.name == member) {
                t.type = m.type;
                t.address += m.offset;
                t.size = m.size;
                t.enumerators = nullptr;
                return t;
            }
        why = "'" + std::string(base) + "' has no member '" + std::string(member) + "'";
        return std::nullopt;
    }
    if (!rest.empty()) {
        why = "cannot read the path '" + std::string(path) + "'";
        return std::nullopt;
    }
    if (!v->decl.members.empty()) {
        why = "'" + std::string(base) + "' is a structure; set its members";
        return std::nullopt;
    }
    return t;
}

bool DeviceMemory::set(std::string_view path, const SimValue& value, std::string& why)
{
    auto t = resolve(path, why);
    if (!t)
        return false;
    static const std::map<std::string, int> none;
    std::vector<std::uint8_t> bytes;
    if (!encode(t->type, t->size, t->enumerators ? *t->enumerators : none, value, bytes, why))
        return false;
    write(t->address, bytes.data(), bytes.size());
    return true;
}

std::optional<double> DeviceMemory::get(std::string_view path) const
{
    std::string why;
    auto t = resolve(path, why);
    if (!t || t->size == 0)
        return std::nullopt;
    std::uint64_t raw = 0;
    for (std::uint32_t i = 0; i < t->size && i < 8; ++i)
        raw |= std::uint64_t(at(t->address + i)) << (8 * i);
    if (t->type == "float") {
        float f;
        std::uint32_t r32 = static_cast<std::uint32_t>(raw);
        std::memcpy(&f, &r32, 4);
        return f;
    }
    const bool unsignedType = t->type == "WORD" || t->type == "unsigned short" || t->type == "IP_ADDR" ||
                              t->type == "size_t";
    std::int64_t v;
    if (unsignedType || t->size >= 8)
        v = static_cast<std::int64_t>(raw);
    else {
        const unsigned bits = 8 * t->size;
        const std::uint64_t sign = std::uint64_t(1) << (bits - 1);
        v = static_cast<std::int64_t>((raw ^ sign) - sign);
    }
    if (int scale = decimalsOf(t->type))
        return double(v) / scale;
    return double(v);
}

} // namespace fieldmon::sim
