#pragma once
// DeviceMemory: the 64 KiB memory of a simulated device and the table of
// where its declared variables live. Variables are laid out in declaration
// order from a base address, each at its storage size (times the number of
// elements reserved for arrays) and aligned; structure members sit at their
// declared byte offsets inside their variable. Address requests are answered
// from the index table, value requests straight from the bytes; anything
// outside the 64 KiB reads as zeros.
//
// Values are written by path ("speed", "pos.x", "history[3]") in the
// variable's own units: the type decides the encoding (DEC10 stores ×10,
// float is IEEE single, IP_ADDR takes a dotted text, an enumeration takes an
// enumerator name or a number), little-endian like the devices.
//
// Thread rule: one owner (the simulator's loop thread).

#include "sim/DeviceConfig.h"
#include "variables/RequestAnswer.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::sim {

// A variable as the device's declarations give it.
struct DeclaredVariable {
    struct Member {
        std::string name;
        std::string type;
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
    };
    std::string name;
    std::string type;
    int index = 0;          // declared variable index; kNoIndex when none
    std::uint32_t size = 0; // storage size of the type
    std::vector<Member> members;                 // when the type is a structure
    std::map<std::string, int> enumerators;      // when the type is an enumeration
    static constexpr int kNoIndex = -1000000000;
};

struct VariableLayout {
    DeclaredVariable decl;
    std::uint32_t address = 0;
    int length = 1; // elements reserved
};

class DeviceMemory : public AnswerMemory {
public:
    static constexpr std::uint32_t kSize = 65536;

    DeviceMemory();

    // Lays the variables out. `specs` may reserve array lengths and pin
    // addresses by variable name. Problems (a variable that does not fit,
    // overlapping pinned addresses) are added to `errors`; such a variable
    // gets address 0.
    void layout(const std::vector<DeclaredVariable>& vars, const DeviceConfig& config,
                std::vector<std::string>& errors);

    const std::vector<VariableLayout>& variables() const { return vars_; }
    const VariableLayout* find(std::string_view name) const;

    // The address of the variable whose declared index has this low byte
    // (requests carry only the low byte); 0, an always zero area below the
    // base, when the device has none. When two variables share a low byte the
    // first declared wins; variables declared without an index answer for 0,
    // as the app asks for them, unless a variable declares 0.
    std::uint32_t addressOfIndex(int lowByte) const override;

    // Appends `count` bytes from `address`; bytes beyond the memory are zeros.
    void read(std::uint64_t address, std::uint64_t count, std::string& out) const override;
    void write(std::uint32_t address, const void* data, std::size_t count);
    std::uint8_t at(std::uint32_t address) const { return address < kSize ? bytes_[address] : 0; }

    // Writes a value by path; false with a reason when the path or value
    // does not fit the declarations.
    bool set(std::string_view path, const SimValue& value, std::string& why);
    // The value at a path in the variable's units (numbers only).
    std::optional<double> get(std::string_view path) const;

    // Encodes `value` as `type` into `size` bytes.
    static bool encode(const std::string& type, std::uint32_t size, const std::map<std::string, int>& enumerators,
                       const SimValue& value, std::vector<std::uint8_t>& out, std::string& why);

private:
    struct Target {
        std::string type;
        std::uint32_t address = 0;
        std::uint32_t size = 0;
        const std::map<std::string, int>* enumerators = nullptr;
    };
    std::optional<Target> resolve(std::string_view path, std::string& why) const;

    std::array<std::uint8_t, kSize> bytes_{};
    std::vector<VariableLayout> vars_;
    std::map<int, std::uint32_t> byIndex_;
};

} // namespace fieldmon::sim
