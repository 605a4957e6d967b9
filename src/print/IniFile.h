#pragma once
// TIniFile: an INI file read the way the platform reads one. A comment is a line that
// starts with ";" (a ";" later in a line belongs to the value), lines may be of any length,
// section and key names match without regard to case, names and values are trimmed and
// values lose one pair of enclosing quotes, the first of a repeated key or section wins,
// and a missing file reads as an empty one. The file may be UTF-8 or GB18030
// (DecodeTextFile).

#include "Tools.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// A settings file that exists but cannot be read; the system's words go to the details.
class EIniFileError : public EDetailedError {
public:
    using EDetailedError::EDetailedError;
};

class TIniFile {
public:
    // Reads the file at `path`; raises EIniFileError when it exists and cannot be read.
    explicit TIniFile(const std::string& path);
    // Reads the given file bytes.
    static TIniFile FromBytes(std::string_view bytes);

    bool ValueExists(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& defaultValue) const;
    // StrToIntDef of the value: `defaultValue` when the key is missing or not an integer.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    // An integer other than 0; `defaultValue` when the key is missing or not an integer.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

private:
    TIniFile() = default;
    void parse(std::string_view bytes);

    // Lower-cased section name → lower-cased key name → value.
    std::map<std::string, std::map<std::string, std::string>> sections_;
};

// One line of an INI text as the platform reads it, numbered from 1. `section` is the
// section the line stands in (for a section line, its own), names and value as written,
// trimmed; an entry's value without its enclosing quotes.
struct TIniLine {
    enum Kind { Blank, Comment, Section, Entry, Other };
    Kind kind = Blank;
    int number = 0;
    std::string section;
    std::string key;
    std::string value;
};
// The lines of a decoded INI text; a line that is no section, entry, comment or blank
// (no "=", an unclosed "[") is Other and read as nothing.
std::vector<TIniLine> ReadIniLines(std::string_view text);

// The platform's integer reading: blanks, a sign, decimal digits or a hexadecimal number
// after "$" or "0x"; false when the text is not a 32-bit integer.
bool TryStrToInt(std::string_view text, std::int32_t& value);
std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue);
// A real number in the form "[sign]digits[.digits][e[sign]digits]", blanks around it
// allowed; false for anything else.
bool TryStrToFloat(std::string_view text, double& value);
