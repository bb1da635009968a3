#pragma once
// RemoteData: one variable of a device as the application knows it: its name,
// declared type and variable index, the device memory address learned from the
// device, and a buffer holding the last value read (little-endian, as the
// device sends it). It converts that raw value into an integer, a double or an
// expression value according to its type, and makes the requests that ask the
// device for its address and its value.
//
// The same class serves as the template of user-defined types (a structure
// type object is named "struct", an enumeration type object " enum") and as
// the element variables that expressions derive from structures and arrays.
//
// Objects are shared (std::shared_ptr): the store's tables, element caches,
// queued requests and expression nodes hold them. The back-reference to the
// store is a plain pointer: a variable never outlives the store that made it,
// because everything that holds a variable (expression nodes, requests in the
// store's queues) also holds the device record that owns the store.
//
// Thread rule: main thread only (the creation counter alone is atomic).

#include "variables/Value.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

class RemoteDataRequest;
class VariableStore;

class RemoteData : public std::enable_shared_from_this<RemoteData> {
public:
    // Marks a variable declared without an index.
    static constexpr std::int32_t kNoIndex = -1000000000;
    // The largest value buffer a variable may have. Declarations come from
    // the device's document; a structure declared with a huge size must not
    // make every variable of its type allocate without bound.
    static constexpr std::int32_t kMaxStorageSize = 4096;
    // Element variables cached per parent before a new one evicts those that
    // nothing but the cache holds, so that an index walking through device
    // values cannot grow the cache without bound.
    static constexpr std::size_t kMaxCachedElements = 1024;

    using ElementTable = std::map<std::string, std::shared_ptr<RemoteData>>;

    // A new variable: no address, invalid, no type, size 0, the next tempid.
    // `store` supplies the type table and the debug flag; it may be null for
    // a free-standing variable (then only built-in types are known).
    static std::shared_ptr<RemoteData> create(VariableStore* store);

    // Only create() can make the key, so only create() constructs (in one
    // allocation with its reference count).
    class CreateKey {
        friend class RemoteData;
        CreateKey() = default;
    };
    RemoteData(CreateKey, VariableStore* store);

    RemoteData(const RemoteData&) = delete;
    RemoteData& operator=(const RemoteData&) = delete;

    // --- Type and size ---------------------------------------------------------
    const std::string& type() const { return defaultDataType_; }
    // Stores the type, sizes the buffer with storageSize() of it.
    void setType(std::string type);
    // Sets size and buffer capacity (clamped to 0..kMaxStorageSize).
    void setSize(std::int32_t bytes);
    // Buffer capacity in bytes (maxSize).
    std::int32_t size() const { return maxSize_; }
    // The size last given to setSize() (diagnostics only).
    std::int32_t declaredSize() const { return size_; }
    // Bytes a value of `type` takes: built-in names, then a user-defined type
    // of that name, then 1 if this object is itself an enumeration type
    // object, else 0 with "Warning:Unknown type '%s'\n".
    std::int32_t storageSize(const std::string& type) const;

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    // The name that tells this value apart from its siblings: the name for
    // a declared variable, "pump.rpm" for a structure's member, "level[3]"
    // for an array's element (the history keys its series by it).
    const std::string& seriesName() const { return path_.empty() ? name_ : path_; }
    std::int32_t varIndex() const { return index_; }
    void setIndex(std::int32_t index) { index_ = index; }
    std::int32_t tempid() const { return tempid_; }
    bool base() const { return base_; }
    void setBase(bool base) { base_ = base; }
    ElementTable& elements() { return elements_; }
    const ElementTable& elements() const { return elements_; }
    void setElements(ElementTable elements) { elements_ = std::move(elements); }
    VariableStore* remoteClient() const { return store_; }
    bool debug() const;

    // --- Address and validity ----------------------------------------------------
    std::int32_t realAddress() const { return realAddress_; }
    void setRealAddress(std::int32_t address) { realAddress_ = address; }
    // Takes the 4 bytes at `bytes` (little-endian) as the address.
    void setAddress(const std::uint8_t* bytes);
    bool isReady() const { return realAddress_ != -1; }
    bool hasAddress() const { return isReady(); }
    bool invalid() const { return realAddress_ == -1 || invalid_; }
    void invalidate() { invalid_ = true; }

    // --- Value intake and readout ------------------------------------------------
    // Copies size() bytes from `bytes` and makes the value valid. The caller
    // guarantees size() readable bytes; storeVars checks this against the
    // reply payload before it calls.
    void storeData(const std::uint8_t* bytes, std::int32_t count);
    const std::vector<std::uint8_t>& data() const { return data_; }
    // When a reply last stored a value here, on the device link's clock
    // (the main loop's); NaN before the first.
    double storedAt() const { return storedAt_; }
    void setStoredAt(double t) { storedAt_ = t; }

    std::int32_t intValue() const;
    double doubleValue() const;
    expr::Value defaultClientDataRepresentation() const;
    // defaultClientDataRepresentation() when it is a number of a built-in
    // type: an integer (isInt) in i or a double in d, without lookups,
    // diagnostics or allocation. False, touching nothing, for every other
    // type (expressions then take the general reading).
    bool numberValue(bool& isInt, std::int32_t& i, double& d) const;

    // --- Requests ----------------------------------------------------------------
    RemoteDataRequest addressRequest(std::string_view key = {}) const;
    // A value request, or the address request while the address is unknown.
    RemoteDataRequest varRequest(std::string_view key = {}) const;

    // --- Element variables -------------------------------------------------------
    // The structure type object this variable's type names, or null when the
    // type is unknown or is not a structure.
    std::shared_ptr<RemoteData> structureType() const;
    // Member `member` of this structure variable: created on first use from
    // the type's member template at this variable's address + the member's
    // index, and cached under the member name. Null while this variable has no
    // address, or when the type is no structure or has no such member.
    std::shared_ptr<RemoteData> structureElement(const std::string& member);
    // Array element k: this variable itself for k <= 0; otherwise a variable
    // of the same name, type, index and size at address + k × storageSize,
    // cached under "%d" of k. Null while this variable has no address.
    std::shared_ptr<RemoteData> arrayElement(std::int32_t k);
    //
    // An element stays the same object for as long as anything else holds it
    // (an expression that resolved to it, a request waiting for its reply):
    // the reply must land in the object the expression reads. Elements that
    // only the cache holds may be evicted once it is full; a later resolve
    // makes a new one, which is asked for afresh like any invalid value.

    // --- Diagnostics ---------------------------------------------------------------
    std::string description() const;
    void printRemoteDataWithIndentation(int n) const;

private:
    // Built-in type names resolved once in setType(), so readings compare no
    // strings. Other means a user-defined or unknown name, looked up in the
    // store's type table at every reading (a later definition takes effect).
    enum class Builtin : std::uint8_t {
        Byte, Char, Short, SignedShort, SWord, UnsignedShort, Word, Int, DWord, Float,
        Dec10, Dec100, Dec1000, IpAddr, SizeT, EnumElement, Other,
    };
    static Builtin classify(std::string_view type);
    static std::int32_t builtinSize(Builtin kind);

    std::uint8_t byte(std::size_t i) const { return i < data_.size() ? data_[i] : 0; }
    std::int32_t s8() const { return static_cast<std::int8_t>(byte(0)); }
    std::int32_t s16() const { return static_cast<std::int16_t>(byte(0) | (byte(1) << 8)); }
    std::int32_t u16() const { return byte(0) | (byte(1) << 8); }
    std::int32_t s32() const;
    float f32() const;
    // The enumeration type object this variable's type names, or null.
    std::shared_ptr<RemoteData> enumerationType() const;
    void resizeBuffer(std::int32_t bytes);
    // A new element variable with the name, type, index and size of `like`.
    std::shared_ptr<RemoteData> newElement(const RemoteData& like) const;
    // Caches a new element under `key` (`at` is where it goes), evicting
    // first when the cache is full.
    void cacheElement(ElementTable::iterator at, std::string key, const std::shared_ptr<RemoteData>& element);
    // Decodes the buffer into number_ (after every change of type or bytes).
    void updateNumber();

    std::string defaultDataType_;
    std::string name_;
    std::string path_; // elements only: see seriesName()
    double storedAt_ = std::numeric_limits<double>::quiet_NaN();
    std::int32_t maxSize_ = 0;
    std::int32_t tempid_;
    std::vector<std::uint8_t> data_;
    std::int32_t index_ = 0;
    std::int32_t size_ = 0;
    std::int32_t realAddress_ = -1;
    ElementTable elements_;
    // The cache size at which the next new element sweeps it. Above the cap
    // when most cached elements are in use, so that sweeping stays amortised
    // constant per element (the cache then holds at most twice what is in use).
    std::size_t sweepAt_ = kMaxCachedElements;
    bool base_ = false;
    bool invalid_ = true;
    Builtin kind_ = Builtin::Other;
    VariableStore* store_;
    // The value as numberValue() gives it, decoded when the bytes or the
    // type change rather than at every reading.
    struct {
        bool isNumber = false;
        bool isInt = false;
        std::int32_t i = 0;
        double d = 0.0;
    } number_;
};

inline std::int32_t RemoteData::s32() const
{
    std::uint32_t v = static_cast<std::uint32_t>(byte(0)) | static_cast<std::uint32_t>(byte(1)) << 8 |
                      static_cast<std::uint32_t>(byte(2)) << 16 | static_cast<std::uint32_t>(byte(3)) << 24;
    return static_cast<std::int32_t>(v);
}

inline float RemoteData::f32() const
{
    std::uint32_t bits = static_cast<std::uint32_t>(s32());
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Inline: expressions call it for every remote value they read.
inline bool RemoteData::numberValue(bool& isInt, std::int32_t& i, double& d) const
{
    if (!number_.isNumber)
        return false;
    isInt = number_.isInt;
    i = number_.i;
    d = number_.d;
    return true;
}

} // namespace fieldmon
