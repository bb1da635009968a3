#include "variables/RemoteData.h"

#include "platform/Diagnostics.h"
#include "variables/RemoteDataRequest.h"
#include "variables/VariableStore.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace fieldmon {

namespace {

// Process-wide creation serial number. Wraps instead of overflowing.
std::atomic<std::uint32_t> nextTempid{0};

constexpr std::string_view kEnumTypeName = " enum";
constexpr std::string_view kStructTypeName = "struct";

unsigned identity(const void* p)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
}

} // namespace

std::shared_ptr<RemoteData> RemoteData::create(VariableStore* store)
{
    return std::make_shared<RemoteData>(CreateKey{}, store);
}

RemoteData::RemoteData(CreateKey, VariableStore* store)
    : tempid_(static_cast<std::int32_t>(nextTempid.fetch_add(1, std::memory_order_relaxed))), store_(store)
{
}

bool RemoteData::debug() const
{
    return store_ && store_->debug();
}

RemoteData::Builtin RemoteData::classify(std::string_view t)
{
    struct Entry {
        std::string_view name;
        Builtin kind;
    };
    static constexpr Entry table[] = {
        {"BYTE", Builtin::Byte},
        {"char", Builtin::Char},
        {"short", Builtin::Short},
        {"signed short", Builtin::SignedShort},
        {"SWORD", Builtin::SWord},
        {"unsigned short", Builtin::UnsignedShort},
        {"WORD", Builtin::Word},
        {"int", Builtin::Int},
        {"DWORD", Builtin::DWord},
        {"float", Builtin::Float},
        {"DEC10", Builtin::Dec10},
        {"DEC100", Builtin::Dec100},
        {"DEC1000", Builtin::Dec1000},
        {"IP_ADDR", Builtin::IpAddr},
        {"size_t", Builtin::SizeT},
        {" enumElement", Builtin::EnumElement},
    };
    for (const auto& e : table)
        if (e.name == t)
            return e.kind;
    return Builtin::Other;
}

std::int32_t RemoteData::builtinSize(Builtin kind)
{
    switch (kind) {
    case Builtin::Int:
    case Builtin::IpAddr:
    case Builtin::SizeT:
    case Builtin::Float:
    case Builtin::DWord:
        return 4;
    case Builtin::Dec10:
    case Builtin::Dec100:
    case Builtin::Dec1000:
    case Builtin::SignedShort:
    case Builtin::Short:
    case Builtin::UnsignedShort:
    case Builtin::Word:
    case Builtin::SWord:
        return 2;
    case Builtin::Char:
    case Builtin::Byte:
    case Builtin::EnumElement:
        return 1;
    case Builtin::Other:
        return 0;
    }
    return 0;
}

std::int32_t RemoteData::storageSize(const std::string& type) const
{
    Builtin kind = classify(type);
    if (kind != Builtin::Other)
        return builtinSize(kind);
    if (store_) {
        if (auto t = store_->typeNamed(type))
            return t->size();
    }
    if (name_ == kEnumTypeName)
        return 1;
    // A structure's type object is sized by its definition right after it is
    // made; asking for its own (not yet entered) name is no unknown type.
    if (name_ == kStructTypeName)
        return 0;
    diag("Warning:Unknown type '%s'\n", type.c_str());
    return 0;
}

void RemoteData::resizeBuffer(std::int32_t bytes)
{
    maxSize_ = std::clamp<std::int32_t>(bytes, 0, kMaxStorageSize);
    // The buffer is allocated when the first value arrives: until then the
    // value reads as zero bytes, and a document that declares many large
    // variables costs memory only for those the device actually sends.
    data_.clear();
    data_.shrink_to_fit();
}

void RemoteData::setType(std::string type)
{
    defaultDataType_ = std::move(type);
    kind_ = classify(defaultDataType_);
    resizeBuffer(storageSize(defaultDataType_));
    updateNumber();
}

void RemoteData::setSize(std::int32_t bytes)
{
    size_ = std::clamp<std::int32_t>(bytes, 0, kMaxStorageSize);
    resizeBuffer(size_);
    updateNumber();
}

void RemoteData::setAddress(const std::uint8_t* bytes)
{
    std::uint32_t a = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                      static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    realAddress_ = static_cast<std::int32_t>(a);
    if (debug())
        diag("Object 0x%x: Address is now 0x%x\n", identity(this), a);
}

void RemoteData::storeData(const std::uint8_t* bytes, std::int32_t /*count*/)
{
    if (debug()) {
        // One line, written in one piece.
        std::string line = "Storing data for '" + name_ + "' ";
        char hex[3];
        for (std::int32_t i = maxSize_ - 1; i >= 0; --i) {
            std::snprintf(hex, sizeof hex, "%2.2x", bytes[i]);
            line += hex;
        }
        diagWrite(line + "\n");
    }
    data_.assign(bytes, bytes + maxSize_);
    invalid_ = false;
    updateNumber();
}

std::shared_ptr<RemoteData> RemoteData::enumerationType() const
{
    if (!store_)
        return nullptr;
    auto t = store_->typeNamed(defaultDataType_);
    if (!t || t->name_ != kEnumTypeName)
        return nullptr;
    if (debug())
        diag("It's an enum, I think.\n");
    return t;
}

std::int32_t RemoteData::intValue() const
{
    switch (kind_) {
    case Builtin::Dec10: return (s16() + 5) / 10;
    case Builtin::Dec100: return (s16() + 50) / 100;
    case Builtin::Dec1000: return (s16() + 500) / 1000;
    case Builtin::SignedShort:
    case Builtin::Short:
    case Builtin::SWord: return s16();
    case Builtin::UnsignedShort:
    case Builtin::Word: return u16();
    case Builtin::DWord:
    case Builtin::Int: return s32();
    // A float outside the int range (or NaN) has no defined conversion in
    // C++; clamp it as the expression language does.
    case Builtin::Float: return expr::truncateToInt(f32());
    case Builtin::Char:
    case Builtin::Byte: return s8();
    case Builtin::IpAddr:
    case Builtin::SizeT:
    case Builtin::EnumElement:
    case Builtin::Other: break;
    }
    if (kind_ == Builtin::Other && enumerationType())
        return s8();
    if (debug())
        diag("Can't make int out of type '%s'\n", defaultDataType_.c_str());
    return -1;
}

double RemoteData::doubleValue() const
{
    switch (kind_) {
    case Builtin::Dec1000: return s16() / 1000.0;
    case Builtin::Dec100: return s16() / 100.0;
    case Builtin::Dec10: return s16() / 10.0;
    case Builtin::DWord:
    case Builtin::SignedShort:
    case Builtin::Short:
    case Builtin::SWord:
    case Builtin::UnsignedShort:
    case Builtin::Word: return intValue();
    case Builtin::Float: return f32();
    case Builtin::Int: return s32();
    case Builtin::Char:
    case Builtin::Byte: return s8();
    case Builtin::IpAddr:
    case Builtin::SizeT:
    case Builtin::EnumElement:
    case Builtin::Other: break;
    }
    if (kind_ == Builtin::Other && enumerationType())
        return s8();
    if (debug())
        diag("Can't make double out of type '%s'\n", defaultDataType_.c_str());
    return -1.0;
}

expr::Value RemoteData::defaultClientDataRepresentation() const
{
    switch (kind_) {
    case Builtin::IpAddr: {
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", byte(0), byte(1), byte(2), byte(3));
        return expr::Value::text(text);
    }
    case Builtin::Dec1000:
    case Builtin::Dec10:
    case Builtin::Dec100:
    case Builtin::Float: return expr::Value::real(doubleValue());
    case Builtin::DWord:
    case Builtin::SignedShort:
    case Builtin::Short:
    case Builtin::SWord:
    case Builtin::UnsignedShort:
    case Builtin::Word:
    case Builtin::Int: return expr::Value::integer(intValue());
    case Builtin::Char:
    case Builtin::Byte: return expr::Value::integer(s8());
    case Builtin::SizeT:
    case Builtin::EnumElement:
    case Builtin::Other: break;
    }
    if (kind_ == Builtin::Other) {
        if (auto e = enumerationType()) {
            auto it = e->elements_.find(std::to_string(s8()));
            if (it != e->elements_.end())
                return expr::Value::text(it->second->name_);
            diag("Hmm. Can't find the type\n");
        }
    }
    if (debug())
        diag("Unknown type '%s'\n", defaultDataType_.c_str());
    return expr::Value::error();
}

void RemoteData::updateNumber()
{
    auto& n = number_;
    n.isNumber = true;
    n.i = 0;
    n.d = 0.0;
    switch (kind_) {
    case Builtin::Dec1000: n.isInt = false; n.d = s16() / 1000.0; return;
    case Builtin::Dec100: n.isInt = false; n.d = s16() / 100.0; return;
    case Builtin::Dec10: n.isInt = false; n.d = s16() / 10.0; return;
    case Builtin::Float: n.isInt = false; n.d = f32(); return;
    case Builtin::DWord:
    case Builtin::Int: n.isInt = true; n.i = s32(); return;
    case Builtin::SignedShort:
    case Builtin::Short:
    case Builtin::SWord: n.isInt = true; n.i = s16(); return;
    case Builtin::UnsignedShort:
    case Builtin::Word: n.isInt = true; n.i = u16(); return;
    case Builtin::Char:
    case Builtin::Byte: n.isInt = true; n.i = s8(); return;
    case Builtin::IpAddr:
    case Builtin::SizeT:
    case Builtin::EnumElement:
    case Builtin::Other: break;
    }
    n.isNumber = false;
}

RemoteDataRequest RemoteData::addressRequest(std::string_view /*key*/) const
{
    if (debug())
        diag("Requesting address of ourselves\n");
    auto self = std::const_pointer_cast<RemoteData>(shared_from_this());
    return RemoteDataRequest::baseAddress(std::move(self), index_, 4, false);
}

RemoteDataRequest RemoteData::varRequest(std::string_view key) const
{
    if (realAddress_ == -1)
        return addressRequest(key);
    auto self = std::const_pointer_cast<RemoteData>(shared_from_this());
    return RemoteDataRequest::value(std::move(self), realAddress_, maxSize_, true);
}

std::shared_ptr<RemoteData> RemoteData::structureType() const
{
    if (!store_)
        return nullptr;
    auto t = store_->typeNamed(defaultDataType_);
    if (!t || t->name_ != kStructTypeName)
        return nullptr;
    return t;
}

std::shared_ptr<RemoteData> RemoteData::structureElement(const std::string& member)
{
    if (!isReady())
        return nullptr;
    auto at = elements_.lower_bound(member);
    if (at != elements_.end() && at->first == member)
        return at->second;
    auto type = structureType();
    if (!type)
        return nullptr;
    auto m = type->elements_.find(member);
    if (m == type->elements_.end())
        return nullptr;
    const RemoteData& tmpl = *m->second;
    auto e = newElement(tmpl);
    // Device addresses are 32-bit and wrap; so does the offset arithmetic.
    e->realAddress_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(realAddress_) +
                                                static_cast<std::uint32_t>(tmpl.index_));
    e->path_ = seriesName() + "." + member;
    cacheElement(at, member, e);
    return e;
}

std::shared_ptr<RemoteData> RemoteData::arrayElement(std::int32_t k)
{
    if (!isReady())
        return nullptr;
    if (k <= 0)
        return shared_from_this();
    std::string key = std::to_string(k);
    auto at = elements_.lower_bound(key);
    if (at != elements_.end() && at->first == key)
        return at->second;
    auto e = newElement(*this);
    std::uint32_t stride = static_cast<std::uint32_t>(
        kind_ == Builtin::Other ? storageSize(defaultDataType_) : builtinSize(kind_));
    e->realAddress_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(realAddress_) +
                                                static_cast<std::uint32_t>(k) * stride);
    e->path_ = seriesName() + "[" + key + "]";
    cacheElement(at, std::move(key), e);
    return e;
}

std::shared_ptr<RemoteData> RemoteData::newElement(const RemoteData& like) const
{
    // What setName, setType, setIndex and setSize(like.size()) would give,
    // without resolving the type name again: `like` resolved the same name.
    auto e = create(store_);
    e->name_ = like.name_;
    e->defaultDataType_ = like.defaultDataType_;
    e->kind_ = like.kind_;
    e->index_ = like.index_;
    e->size_ = e->maxSize_ = like.maxSize_;
    e->updateNumber();
    return e;
}

void RemoteData::cacheElement(ElementTable::iterator at, std::string key, const std::shared_ptr<RemoteData>& element)
{
    if (elements_.size() < sweepAt_) {
        elements_.emplace_hint(at, std::move(key), element);
        return;
    }
    // Main thread only, so a count of 1 means the cache is the only holder
    // and nothing can take the element while we look.
    std::erase_if(elements_, [](const auto& entry) { return entry.second.use_count() == 1; });
    sweepAt_ = std::max(kMaxCachedElements, 2 * elements_.size());
    elements_.emplace(std::move(key), element);
}

std::string RemoteData::description() const
{
    std::string elems = "{";
    for (const auto& [key, value] : elements_) {
        elems += "\n    ";
        elems += key;
        elems += " = ";
        elems += value->description();
        elems += ";";
    }
    elems += elements_.empty() ? "}" : "\n}";
    char head[128];
    std::snprintf(head, sizeof head, "<RemoteData 0x%x type='", identity(this));
    std::string out = head;
    out += defaultDataType_;
    std::snprintf(head, sizeof head, "' size='%d' index='%d' name='", size_, index_);
    out += head;
    out += name_;
    std::snprintf(head, sizeof head, "' invalid='%s' address='0x%x' elements='", invalid_ ? "YES" : "NO",
                  static_cast<unsigned>(realAddress_));
    out += head;
    out += elems;
    out += "'>";
    return out;
}

void RemoteData::printRemoteDataWithIndentation(int n) const
{
    std::string indent;
    for (int i = 0; i < n; ++i)
        indent += "    ";
    if (!name_.empty()) {
        diag("%s(%s) %s\n", indent.c_str(), defaultDataType_.c_str(), name_.c_str());
    } else {
        diag("%s<type '%s', size %d> = \n", indent.c_str(), defaultDataType_.c_str(), size_);
        n += 4;
    }
    for (const auto& [key, value] : elements_)
        value->printRemoteDataWithIndentation(n + 1);
}

} // namespace fieldmon
