#include "IniFile.h"

#include "Encoding.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string unquoted(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

TIniFile::TIniFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (!in || !(content << in.rdbuf()) || in.bad())
        throw EIniFileError("无法读取配置文件 " + path + "。", std::strerror(errno));
    parse(content.str());
}

TIniFile TIniFile::FromBytes(std::string_view bytes) {
    TIniFile file;
    file.parse(bytes);
    return file;
}

void TIniFile::parse(std::string_view bytes) {
    // Only the first section of a repeated name is read, and in it the first of a key.
    std::map<std::string, bool> sectionTaken{{"", true}};
    std::string current;
    bool reading = true;
    for (const TIniLine& line : ReadIniLines(DecodeTextFile(bytes))) {
        if (line.kind == TIniLine::Section) {
            current = lower(line.section);
            reading = !sectionTaken[current];
            sectionTaken[current] = true;
        } else if (line.kind == TIniLine::Entry && reading) {
            sections_[current].emplace(lower(line.key), line.value);
        }
    }
}

std::vector<TIniLine> ReadIniLines(std::string_view text) {
    std::vector<TIniLine> lines;
    std::string section;
    int number = 0;
    for (;;) {
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        TIniLine line;
        line.number = ++number;
        const std::string_view content = trimmed(raw);
        line.section = section;
        if (content.empty()) {
            line.kind = TIniLine::Blank;
        } else if (content.front() == ';') {
            // A comment is a line of its own; a ";" after a value belongs to the value.
            line.kind = TIniLine::Comment;
        } else if (content.front() == '[') {
            const std::size_t close = content.find(']');
            if (close == std::string_view::npos) {
                line.kind = TIniLine::Other;
            } else {
                line.kind = TIniLine::Section;
                section = std::string(trimmed(content.substr(1, close - 1)));
                line.section = section;
            }
        } else if (const std::size_t eq = content.find('=');
                   eq != std::string_view::npos && !trimmed(content.substr(0, eq)).empty()) {
            line.kind = TIniLine::Entry;
            line.key = std::string(trimmed(content.substr(0, eq)));
            line.value = unquoted(std::string(trimmed(content.substr(eq + 1))));
        } else {
            line.kind = TIniLine::Other;
        }
        lines.push_back(std::move(line));
        if (end == std::string_view::npos)
            break;
    }
    return lines;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
    const auto s = sections_.find(lower(section));
    return s != sections_.end() && s->second.count(lower(key)) != 0;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& defaultValue) const {
    const auto s = sections_.find(lower(section));
    if (s == sections_.end())
        return defaultValue;
    const auto k = s->second.find(lower(key));
    return k == s->second.end() ? defaultValue : k->second;
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const {
    if (!ValueExists(section, key))
        return defaultValue;
    return StrToIntDef(ReadString(section, key, {}), defaultValue);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TryStrToInt(std::string_view text, std::int32_t& value) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-')
        return false;
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    if (base == 16) {
        // A hexadecimal number fills the 32 bits, as the platform's reader takes it.
        if (magnitude > 0xFFFFFFFFu)
            return false;
        const auto bits = static_cast<std::uint32_t>(magnitude);
        value = static_cast<std::int32_t>(negative ? 0u - bits : bits);
        return true;
    }
    if (magnitude > (negative ? 2147483648u : 2147483647u))
        return false;
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return true;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue) {
    std::int32_t value = 0;
    return TryStrToInt(text, value) ? value : defaultValue;
}

bool TryStrToFloat(std::string_view text, double& value) {
    text = trimmed(text);
    std::string_view rest = text;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-'))
        rest.remove_prefix(1);
    // Digits or a point must come first: no "inf", "nan" or hexadecimal forms.
    if (rest.empty() || !((rest.front() >= '0' && rest.front() <= '9') || rest.front() == '.'))
        return false;
    std::string plain(text.front() == '+' ? text.substr(1) : text);
    double parsed = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), parsed,
                                           std::chars_format::general);
    if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}
