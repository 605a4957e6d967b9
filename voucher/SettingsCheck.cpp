#include "SettingsCheck.h"

#include "ClsPrint.h"
#include "Encoding.h"
#include "IniFile.h"
#include "Tools.h"

#include <algorithm>
#include <map>
#include <optional>

namespace {

enum class ValueKind { Text, Integer, Flag, Real, Method, CodeList };

struct KeyRule {
    const char* name;
    ValueKind kind;
    const char* defaultValue;
};

constexpr KeyRule printerKeys[] = {
    {"PRINTTYPE", ValueKind::Text, "EPSON"},
    {"HIGHSPEED", ValueKind::Flag, "1"},
    {"SINGLE", ValueKind::Flag, "0"},
    {"INITPRINT", ValueKind::Flag, "1"},
    {"PRINTMODE", ValueKind::Text, "2"},
    {"PAGELENGTH", ValueKind::Integer, "0"},
    {"PAGEWIDTH", ValueKind::Integer, "0"},
    {"TINYFORMFEED", ValueKind::Integer, "0"},
    {"FONTSIZE", ValueKind::Integer, "0"},
    {"FONTNAME", ValueKind::Text, ""},
    {"AutoToNextPage", ValueKind::Integer, "0"},
    {"JIGGLE", ValueKind::Flag, "1"},
    {"Width", ValueKind::Real, "15"},
    {"Height", ValueKind::Real, "7"},
    {"DEVICE", ValueKind::Text, "/dev/usb/lp0"},
};

constexpr KeyRule printSetKeys[] = {
    {"PrintMethod", ValueKind::Method, "2"},     {"FontSize", ValueKind::Integer, "10"},
    {"FontName", ValueKind::Text, "宋体"},       {"Row", ValueKind::Integer, "40"},
    {"Col", ValueKind::Integer, "70"},           {"Printer", ValueKind::Text, "3"},
    {"ZzdzType", ValueKind::Text, "0"},          {"PageLength", ValueKind::Integer, "0"},
    {"PageWidth", ValueKind::Integer, "0"},      {"TinyFormFeed", ValueKind::Integer, "0"},
    {"AutoToNextPage", ValueKind::Integer, "0"},
};

constexpr KeyRule codeKeys[] = {
    {"Init", ValueKind::CodeList, "27;64"},       {"EndPage", ValueKind::CodeList, "13;10"},
    {"Cut", ValueKind::CodeList, "94;116"},       {"AutoLink", ValueKind::CodeList, "28;118;1"},
    {"DoubleSize", ValueKind::CodeList, "27;14"}, {"prerows", ValueKind::CodeList, "27;67"},
    {"preleft", ValueKind::CodeList, "27;108"},
};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return out;
}

template <std::size_t N> const KeyRule* find(const KeyRule (&rules)[N], std::string_view key) {
    for (const KeyRule& rule : rules) {
        if (lower(rule.name) == lower(key))
            return &rule;
    }
    return nullptr;
}

std::string at(int line) {
    return "line " + std::to_string(line) + ": ";
}

// The finding about one value, empty when the module reads it as meant.
std::string checkValue(const KeyRule& rule, const std::string& key, const std::string& value) {
    std::int32_t number = 0;
    double real = 0;
    const std::string setting = key + "=" + value;
    switch (rule.kind) {
    case ValueKind::Text:
        return {};
    case ValueKind::Integer:
        if (TryStrToInt(value, number))
            return {};
        return setting + " is not a whole number; the default " + rule.defaultValue + " applies";
    case ValueKind::Flag:
        if (!TryStrToInt(value, number))
            return setting + " is not 0 or 1; the default " + rule.defaultValue + " applies";
        if (number != 0 && number != 1)
            return setting + " is not 0 or 1; it reads as 1";
        return {};
    case ValueKind::Real:
        if (TryStrToFloat(value, real))
            return {};
        return setting + " is not a number; the paper falls back to 15 by 7 cm";
    case ValueKind::Method:
        if (!value.empty() && (value[0] == '0' || value[0] == '1' || value[0] == '2'))
            return {};
        return setting + " is not 0, 1 or 2; print then prints nothing";
    case ValueKind::CodeList: {
        std::vector<std::string> fields(1);
        for (char c : value) {
            if (c == ';')
                fields.emplace_back();
            else
                fields.back() += c;
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::string field = Trim(fields[i]);
            if (field.empty()) {
                const bool more =
                    std::any_of(fields.begin() + static_cast<long>(i), fields.end(),
                                [](const std::string& f) { return !Trim(f).empty(); });
                if (more)
                    return setting + ": an empty field ends the codes after " + std::to_string(i);
                return {};
            }
            if (i == 40)
                return setting + ": only the first 40 codes are read";
            const std::size_t sign = field[0] == '+' || field[0] == '-' ? 1 : 0;
            const bool decimal = field.size() > sign &&
                                 std::all_of(field.begin() + static_cast<long>(sign), field.end(),
                                             [](char c) { return c >= '0' && c <= '9'; }) &&
                                 TryStrToInt(field, number);
            if (!decimal)
                return setting + ": \"" + field + "\" is not a decimal code; it gives the byte 0";
        }
        return {};
    }
    }
    return {};
}

// The first line holding a NUL byte: the mark of a UTF-16 file without a byte order mark.
std::optional<int> utf16Line(std::string_view bytes) {
    if (bytes.size() >= 2 &&
        ((bytes[0] == '\xff' && bytes[1] == '\xfe') || (bytes[0] == '\xfe' && bytes[1] == '\xff')))
        return 1;
    const std::size_t nul = bytes.find('\0');
    if (nul == std::string_view::npos)
        return std::nullopt;
    return static_cast<int>(
               std::count(bytes.begin(), bytes.begin() + static_cast<long>(nul), '\n')) +
           1;
}

} // namespace

std::vector<std::string> CheckVoucherSettings(std::string_view bytes) {
    std::vector<std::string> findings;
    if (const auto line = utf16Line(bytes)) {
        findings.push_back(at(*line) +
                           "the file is UTF-16 (or holds NUL bytes) and cannot be read: every "
                           "setting takes its default; save it as UTF-8 or GB18030");
        return findings;
    }
    const bool utf8 = IsValidUtf8(bytes);
    const std::string text = DecodeTextFile(bytes);
    const std::vector<TIniLine> lines = ReadIniLines(text);
    std::string printType = "EPSON";
    for (const TIniLine& line : lines) {
        if (line.kind == TIniLine::Entry && lower(line.section) == "printer" &&
            lower(line.key) == "printtype") {
            printType = line.value;
            break;
        }
    }
    std::string upperType;
    for (char c : printType)
        upperType += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    const bool customType = upperType != "EPSON" && upperType != "OKI" && upperType != "OKIBJ";

    std::map<std::string, int> sectionSeen;
    std::map<std::string, int> keySeen;
    bool repeatedSection = false;
    for (const TIniLine& line : lines) {
        if (!utf8 && line.kind != TIniLine::Blank) {
            // U+FFFD: bytes that are neither UTF-8 nor GB18030.
            const std::string all = line.section + line.key + line.value;
            if (all.find("\xEF\xBF\xBD") != std::string::npos)
                findings.push_back(at(line.number) +
                                   "holds bytes that are neither UTF-8 nor GB18030");
        }
        const std::string section = lower(line.section);
        if (line.kind == TIniLine::Other) {
            findings.push_back(at(line.number) +
                               "is no setting (no \"=\", or no closing \"]\") and is not read");
            continue;
        }
        if (line.kind == TIniLine::Section) {
            const auto [seen, first] = sectionSeen.emplace(section, line.number);
            repeatedSection = !first;
            if (!first) {
                findings.push_back(at(line.number) + "[" + line.section +
                                   "] appears again (first at line " +
                                   std::to_string(seen->second) + "); only the first is read");
            } else if (section != "printer" && section != "printset" &&
                       !(customType && section == lower(upperType))) {
                findings.push_back(at(line.number) + "section [" + line.section +
                                   "] is not read (PRINTTYPE is " + printType + ")");
            }
            continue;
        }
        if (line.kind != TIniLine::Entry || repeatedSection)
            continue;
        if (line.section.empty()) {
            findings.push_back(at(line.number) + line.key +
                               " stands before any section and is not read");
            continue;
        }
        const KeyRule* rule = nullptr;
        if (section == "printer")
            rule = find(printerKeys, line.key);
        else if (section == "printset")
            rule = find(printSetKeys, line.key);
        else if (customType && section == lower(upperType))
            rule = find(codeKeys, line.key);
        else
            continue;
        if (rule == nullptr) {
            findings.push_back(at(line.number) + "[" + line.section + "] has no key " + line.key +
                               "; it is not read");
            continue;
        }
        const auto [seen, first] = keySeen.emplace(section + "\n" + lower(line.key), line.number);
        if (!first) {
            findings.push_back(at(line.number) + line.key + " appears again in [" + line.section +
                               "] (first at line " + std::to_string(seen->second) +
                               "); only the first is read");
            continue;
        }
        if (const std::string finding = checkValue(*rule, line.key, line.value); !finding.empty())
            findings.push_back(at(line.number) + finding);
    }
    return findings;
}
