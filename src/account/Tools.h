#pragma once
// The small text functions the module shares. Texts are UTF-8; lengths and widths count
// characters, so an ASCII text behaves byte for byte, and no function cuts inside a
// multi-byte character. Blanks are the characters with codes 32 and below.

#include "Variant.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// An error in the operator's words that carries a technical line (a service's own words,
// a system error) for the dialog's details.
class EDetailedError : public std::runtime_error {
public:
    explicit EDetailedError(const std::string& text, std::string detail = {})
        : std::runtime_error(text), detail_(std::move(detail)) {}
    const std::string& detail() const noexcept { return detail_; }

private:
    std::string detail_;
};

// The part before the first separator; empty when there is none.
std::string TextBefore(std::string_view text, char separator);
// The part after the first separator; empty when there is none.
std::string TextAfter(std::string_view text, char separator);
// The index-th field (from 1) of a separated text; empty for index 0 or past the end.
std::string GetField(std::string_view text, char separator, std::uint8_t index);
std::string RepeatText(std::int32_t count, std::string_view text);
// Filler copies for (width - length of the trimmed text), then the text unchanged.
std::string PadLeft(std::string_view text, std::string_view filler, std::int32_t width);
std::string IfText(bool flag, std::string_view ifTrue, std::string_view ifFalse);
// The first character, NUL for an empty text. One-character codes are ASCII: a text that
// starts with any other character gives '?', as a code-page conversion would.
char FirstChar(std::string_view text);
// The value as text, cut before its first NUL.
std::string VariantToText(const Variant& value);
// Completes a short account entry by exchange (way '5') or by account width (way '2').
std::string NormalizeAccountInput(std::int32_t width, std::string_view entry,
                                  std::string_view exchange, char way);

std::string Trim(std::string_view text);
// The number of characters of a UTF-8 text.
std::size_t CharLength(std::string_view text);
// The text cut to at most `capacity` bytes, at a character boundary.
std::string CutToCapacity(std::string_view text, std::size_t capacity);
