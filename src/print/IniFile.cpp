#include "IniFile.h"

#include "Encoding.h"
#include "Tools.h"

#include <ini.h>

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

// Every line without its leading blanks: the platform reads an indented line as a line of
// its own, where the INI library would take it as a continuation of the value above.
std::string withoutIndent(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == ' ' || c == '\t'))
            continue;
        lineStart = c == '\n';
        out += c;
    }
    return out;
}

struct ParseState {
    std::map<std::string, std::map<std::string, std::string>>* sections;
    // Only the first section of a repeated name is read.
    std::map<std::string, bool> sectionTaken;
    std::string current;
    bool reading = false;
};

int onEntry(void* user, const char* section, const char* name, const char* value) {
    auto& state = *static_cast<ParseState*>(user);
    const std::string sectionName = lower(Trim(section));
    if (sectionName != state.current) {
        state.current = sectionName;
        state.reading = !state.sectionTaken[sectionName];
        state.sectionTaken[sectionName] = true;
    }
    if (!state.reading || name == nullptr)
        return 1;
    auto& keys = (*state.sections)[sectionName];
    keys.emplace(lower(Trim(name)), unquoted(Trim(value == nullptr ? "" : value)));
    return 1;
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
        throw EIniFileError("无法读取配置文件 " + path + "：" + std::strerror(errno));
    parse(content.str());
}

TIniFile TIniFile::FromBytes(std::string_view bytes) {
    TIniFile file;
    file.parse(bytes);
    return file;
}

void TIniFile::parse(std::string_view bytes) {
    const std::string text = withoutIndent(DecodeTextFile(bytes));
    ParseState state{&sections_, {{"", true}}, {}, true};
    // Lines the library cannot take (no "=", an unclosed section) are passed over, as the
    // platform does; its error report is therefore not an error here.
    ini_parse_string(text.c_str(), onEntry, &state);
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
