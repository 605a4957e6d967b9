#include "Tools.h"

namespace {

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string TextBefore(std::string_view text, char separator) {
    const std::size_t pos = text.find(separator);
    return pos == std::string_view::npos ? std::string() : std::string(text.substr(0, pos));
}

std::string TextAfter(std::string_view text, char separator) {
    const std::size_t pos = text.find(separator);
    return pos == std::string_view::npos ? std::string() : std::string(text.substr(pos + 1));
}

std::string GetField(std::string_view text, char separator, std::uint8_t index) {
    if (index == 0)
        return {};
    // A separator appended to the text terminates the last field like the others.
    std::string rest(text);
    rest.push_back(separator);
    for (unsigned i = 1; i < index; ++i)
        rest = TextAfter(rest, separator);
    return TextBefore(rest, separator);
}

std::string RepeatText(std::int32_t count, std::string_view text) {
    std::string result;
    if (count <= 0)
        return result;
    result.reserve(static_cast<std::size_t>(count) * text.size());
    for (std::int32_t i = 0; i < count; ++i)
        result.append(text);
    return result;
}

std::string PadLeft(std::string_view text, std::string_view filler, std::int32_t width) {
    const auto length = static_cast<std::int64_t>(CharLength(Trim(text)));
    const std::int64_t copies = static_cast<std::int64_t>(width) - length;
    std::string result = RepeatText(static_cast<std::int32_t>(copies > 0 ? copies : 0), filler);
    result.append(text);
    return result;
}

std::string IfText(bool flag, std::string_view ifTrue, std::string_view ifFalse) {
    return std::string(flag ? ifTrue : ifFalse);
}

char FirstChar(std::string_view text) {
    if (text.empty())
        return '\0';
    return static_cast<unsigned char>(text.front()) < 0x80 ? text.front() : '?';
}

std::string VariantToText(const Variant& value) {
    std::string text = value.toText();
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

std::string NormalizeAccountInput(std::int32_t width, std::string_view entry,
                                  std::string_view exchange, char way) {
    if (CharLength(entry) >= 8)
        return std::string(entry);
    if (way == '5') {
        if (exchange == "1")
            return "A" + PadLeft(entry, "0", 9);
        if (exchange == "2")
            return PadLeft(entry, "0", 10);
        if (exchange == "D")
            return "C" + PadLeft(entry, "0", 9);
        if (exchange == "H")
            return PadLeft(entry, "0", 8);
        return std::string(entry);
    }
    if (way == '2' && width > 7)
        return PadLeft(Trim(entry), "0", width);
    return std::string(entry);
}

std::string Trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::size_t CharLength(std::string_view text) {
    std::size_t count = 0;
    for (char c : text)
        count += isContinuation(c) ? 0 : 1;
    return count;
}

std::string CutToCapacity(std::string_view text, std::size_t capacity) {
    if (text.size() <= capacity)
        return std::string(text);
    std::size_t end = capacity;
    while (end > 0 && isContinuation(text[end]))
        --end;
    return std::string(text.substr(0, end));
}
