#include "Variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void cannotConvert(std::string_view what, std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' is not a valid " + std::string(what));
}

std::int64_t parseInteger(std::string_view text) {
    std::string_view s = trimmed(text);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        cannotConvert("integer", text);
    return value;
}

double parseReal(std::string_view text) {
    std::string_view s = trimmed(text);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
        cannotConvert("floating point value", text);
    return value;
}

std::string realText(double value) {
    // Fifteen significant digits, as the platform's standard conversion gives them.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

} // namespace

std::string Variant::toText() const {
    switch (kind()) {
    case Kind::Empty:
        return {};
    case Kind::Integer:
        return std::to_string(integer());
    case Kind::Real:
        return realText(real());
    case Kind::Text:
        return text();
    case Kind::Bytes:
        return bytes();
    }
    return {};
}

std::int64_t Variant::toInteger() const {
    switch (kind()) {
    case Kind::Empty:
        return 0;
    case Kind::Integer:
        return integer();
    case Kind::Real: {
        const double r = std::nearbyint(real());
        if (!std::isfinite(r) || r < -9.2233720368547758e18 || r >= 9.2233720368547758e18)
            cannotConvert("integer", realText(real()));
        return static_cast<std::int64_t>(r);
    }
    case Kind::Text:
        return parseInteger(text());
    case Kind::Bytes:
        throw EConvertError("a packed buffer is not an integer");
    }
    return 0;
}

std::int32_t Variant::toInt32() const {
    const std::int64_t value = toInteger();
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        cannotConvert("integer", std::to_string(value));
    return static_cast<std::int32_t>(value);
}

double Variant::toReal() const {
    switch (kind()) {
    case Kind::Empty:
        return 0.0;
    case Kind::Integer:
        return static_cast<double>(integer());
    case Kind::Real:
        return real();
    case Kind::Text:
        return parseReal(text());
    case Kind::Bytes:
        throw EConvertError("a packed buffer is not a floating point value");
    }
    return 0.0;
}
