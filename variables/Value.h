#pragma once
// Value: the constant a remote variable reads as, and the result of
// evaluating an expression. A small value type: an integer (32-bit), a double, a
// text, an error, or nothing (a call of an unknown function yields nothing,
// which readers take as 0, 0.0 and an empty text).
//
// The kind codes are those the expression language exposes: integer 0,
// double 1, string 2, error 4. It lives with the variables, below the
// expression language, because a remote variable's reading is one; the
// expression language knows it as expr::Value and expr::Kind.
//
// Numeric values never allocate. Thread rule: a plain value; any thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace fieldmon {

enum class ValueKind : std::int32_t {
    Integer = 0,
    Double = 1,
    String = 2,
    Error = 4,
    None = -1,
};

class Value {
public:
    Value() = default; // nothing
    static Value integer(std::int32_t v) { return Value(Storage(std::in_place_index<1>, v)); }
    static Value real(double v) { return Value(Storage(std::in_place_index<2>, v)); }
    static Value text(std::string v) { return Value(Storage(std::in_place_index<3>, std::move(v))); }
    static Value error() { return Value(Storage(std::in_place_index<4>, ErrorTag{})); }

    ValueKind kind() const;
    bool isNone() const { return data_.index() == 0; }
    bool isError() const { return data_.index() == 4; }
    bool isNumber() const { return data_.index() == 1 || data_.index() == 2; }

    // Readings of any value, as the constants table says: an integer reads
    // as itself, "%d" and itself as a double; a double truncates toward zero
    // (clamped to the int range; NaN reads 0), "%f"; a text gives its leading
    // integer or floating number (0 if none) and itself; an error 0, 0.0 and
    // "error"; nothing 0, 0.0 and "".
    std::int32_t intValue() const;
    double doubleValue() const;
    std::string stringValue() const;

    // Direct access when the kind is known.
    std::int32_t asInt() const { return std::get<1>(data_); }
    double asDouble() const { return std::get<2>(data_); }
    const std::string& asText() const { return std::get<3>(data_); }

    bool operator==(const Value&) const = default;

private:
    struct ErrorTag {
        bool operator==(const ErrorTag&) const = default;
    };
    using Storage = std::variant<std::monostate, std::int32_t, double, std::string, ErrorTag>;
    explicit Value(Storage s) : data_(std::move(s)) {}
    Storage data_;
};

// Conversions shared with the rest of the expression language.
std::int32_t truncateToInt(double d);       // toward zero, clamped, NaN → 0
std::int32_t leadingInt(std::string_view s); // like atoi, clamped
double leadingDouble(std::string_view s);    // like atof

} // namespace fieldmon

namespace fieldmon::expr {
using Value = fieldmon::Value;
using Kind = fieldmon::ValueKind;
using fieldmon::leadingDouble;
using fieldmon::leadingInt;
using fieldmon::truncateToInt;
} // namespace fieldmon::expr
