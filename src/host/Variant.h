#pragma once
// The value that crosses the host boundary: empty, integer, real, text (UTF-8) or a
// packed buffer. Texts and buffers may hold NUL bytes.

#include "HostTypes.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

// A conversion that the value cannot make, such as a text that is not an integer.
class MARLO_RUNTIME_API EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class MARLO_RUNTIME_API Variant {
public:
    enum class Kind : std::uint8_t { Empty, Integer, Real, Text, Bytes };

    Variant() = default;
    Variant(std::int64_t value) : value_(value) {}
    Variant(std::int32_t value) : value_(std::int64_t{value}) {}
    Variant(double value) : value_(value) {}
    Variant(std::string text) : value_(std::move(text)) {}
    Variant(std::string_view text) : value_(std::string(text)) {}
    Variant(const char* text) : value_(std::string(text)) {}

    static Variant fromBytes(std::string bytes) {
        Variant v;
        v.value_ = Buffer{std::move(bytes)};
        return v;
    }

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }

    // The standard conversions. Empty gives "", 0 and 0.0.
    std::string toText() const;
    // A text is an integer when it is an optional sign and decimal digits, blanks around
    // allowed; anything else raises EConvertError, as does a real out of range.
    std::int64_t toInteger() const;
    std::int32_t toInt32() const;
    double toReal() const;

    // Direct access; only valid for the matching kind.
    std::int64_t integer() const { return std::get<std::int64_t>(value_); }
    double real() const { return std::get<double>(value_); }
    const std::string& text() const { return std::get<std::string>(value_); }
    const std::string& bytes() const { return std::get<Buffer>(value_).data; }

    friend bool operator==(const Variant&, const Variant&) = default;

private:
    struct Buffer {
        std::string data;
        friend bool operator==(const Buffer&, const Buffer&) = default;
    };
    std::variant<std::monostate, std::int64_t, double, std::string, Buffer> value_;
};
