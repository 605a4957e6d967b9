#include "JournalReport.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace backoffice {

namespace {

// Valid UTF-8 of the text: a byte that starts no valid sequence becomes U+FFFD. Values such
// as the workstation come from counters and may hold anything.
std::string validUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80         ? 1
                             : (c >> 5) == 6  ? 2
                             : (c >> 4) == 14 ? 3
                             : (c >> 3) == 30 ? 4
                                              : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && length > 1) {
            std::uint32_t cp = c & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = cp >= least[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// For a terminal: control characters would move the cursor or worse.
std::string printable(const std::string& text) {
    std::string out = validUtf8(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return out;
}

// Columns a valid UTF-8 text takes on a terminal: the wide East Asian characters two.
std::size_t displayWidth(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t cp = length == 1 ? c : c & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
        width += wide ? 2 : 1;
        i += length;
    }
    return width;
}

std::string numberOrBlank(std::int64_t value) {
    return value == 0 ? std::string() : std::to_string(value);
}

// The table shows an entry's content; the CSV adds its hash.
constexpr std::size_t columnCount = journalContentColumns;

// A column's value as an operator reads it.
std::string cellOf(const JournalColumn& column, const JournalEntry& e) {
    if (column.text)
        return column.text == &JournalEntry::event ? journalEventText(e.event) : e.*column.text;
    const std::int64_t value = e.*column.number;
    if (column.number == &JournalEntry::occurredAt)
        return journalTimeText(value);
    return column.number == &JournalEntry::entryNo ? std::to_string(value) : numberOrBlank(value);
}

const std::array<const char*, columnCount> headings = [] {
    std::array<const char*, columnCount> names{};
    for (std::size_t c = 0; c < columnCount; ++c)
        names[c] = journalColumns[c].heading;
    return names;
}();

std::array<std::string, columnCount> cellsOf(const JournalEntry& e) {
    std::array<std::string, columnCount> cells;
    for (std::size_t c = 0; c < columnCount; ++c)
        cells[c] = cellOf(journalColumns[c], e);
    return cells;
}

void writeTable(std::ostream& out, const std::vector<JournalEntry>& entries) {
    std::vector<std::array<std::string, columnCount>> rows;
    rows.reserve(entries.size());
    std::array<std::size_t, columnCount> widths{};
    for (std::size_t c = 0; c < columnCount; ++c)
        widths[c] = displayWidth(headings[c]);
    for (const JournalEntry& e : entries) {
        auto cells = cellsOf(e);
        for (std::size_t c = 0; c < columnCount; ++c) {
            cells[c] = printable(cells[c]);
            widths[c] = std::max(widths[c], displayWidth(cells[c]));
        }
        rows.push_back(std::move(cells));
    }
    const auto line = [&](const auto& cells) {
        std::string text;
        for (std::size_t c = 0; c < columnCount; ++c) {
            const std::string cell = cells[c];
            text += cell;
            if (c + 1 < columnCount)
                text.append(widths[c] - displayWidth(cell) + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out << text << '\n';
    };
    line(headings);
    std::string rule;
    for (std::size_t c = 0; c < columnCount; ++c)
        rule.append(widths[c], '-').append(c + 1 < columnCount ? 2 : 0, ' ');
    out << rule << '\n';
    for (const auto& cells : rows)
        line(cells);
    out << "共" << entries.size() << "条\n";
}

// A cell as RFC 4180 has it. A text a spreadsheet would take for a formula is led by an
// apostrophe, so that a value from a counter never runs as one.
std::string csvCell(const std::string& value, bool text) {
    std::string v = validUtf8(value);
    if (text && !v.empty() && std::string_view("=+-@\t\r").find(v.front()) != std::string::npos)
        v.insert(v.begin(), '\'');
    if (v.find_first_of(",\"\r\n") == std::string::npos)
        return v;
    std::string quoted = "\"";
    for (char c : v) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

void writeCsv(std::ostream& out, const std::vector<JournalEntry>& entries) {
    out << "\xEF\xBB\xBF";
    std::string heading;
    for (const JournalColumn& column : journalColumns)
        if (column.heading)
            heading += (heading.empty() ? "" : ",") + std::string(column.heading);
    out << heading << "\r\n";
    for (const JournalEntry& e : entries) {
        std::string line;
        for (const JournalColumn& column : journalColumns) {
            if (!column.heading)
                continue;
            // Numbers and rates are written as they are.
            const bool text = column.text && !column.rate;
            line += (line.empty() ? "" : ",") + csvCell(cellOf(column, e), text);
        }
        out << line << "\r\n";
    }
}

std::string jsonString(const std::string& value) {
    std::string out = "\"";
    for (char c : validUtf8(value)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::string localTime(std::int64_t seconds, const char* format) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[40];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

std::string jsonTime(std::int64_t seconds) {
    std::string out = localTime(seconds, "%Y-%m-%dT%H:%M:%S%z"); // +hhmm to +hh:mm
    out.insert(out.size() - 2, ":");
    return out;
}

void writeJson(std::ostream& out, const std::vector<JournalEntry>& entries) {
    for (const JournalEntry& e : entries) {
        std::string line;
        for (const JournalColumn& column : journalColumns) {
            line += (line.empty() ? "{\"" : ",\"") + std::string(column.jsonName) + "\":";
            if (column.number == &JournalEntry::occurredAt)
                line += jsonString(jsonTime(e.occurredAt));
            else if (column.number)
                line += std::to_string(e.*column.number);
            else if (column.rate && (e.*column.text).empty())
                line += "null";
            else
                line += jsonString(e.*column.text);
            if (column.text == &JournalEntry::event)
                line += ",\"event_text\":" + jsonString(journalEventText(e.event));
        }
        out << line << "}\n";
    }
}

} // namespace

std::optional<JournalFormat> parseJournalFormat(const std::string& name) {
    if (name == "table")
        return JournalFormat::Table;
    if (name == "csv")
        return JournalFormat::Csv;
    if (name == "json")
        return JournalFormat::Json;
    return std::nullopt;
}

std::optional<std::int64_t> parseJournalTime(const std::string& text, bool endOfDay) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int used = 0;
    bool hasTime = false;
    const char* s = text.c_str();
    if (text.size() == 8 && text.find_first_not_of("0123456789") == std::string::npos) {
        std::sscanf(s, "%4d%2d%2d%n", &year, &month, &day, &used);
    } else if (std::sscanf(s, "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3 && used == 10) {
        if (text.size() > 10) {
            if (text[10] != ' ' && text[10] != 'T')
                return std::nullopt;
            int more = 0;
            if (std::sscanf(s + 11, "%2d:%2d%n", &hour, &minute, &more) != 2 || more != 5)
                return std::nullopt;
            used = 16;
            if (text.size() > 16) {
                if (std::sscanf(s + 16, ":%2d%n", &second, &more) != 1 || more != 3)
                    return std::nullopt;
                used = 19;
            }
            hasTime = true;
        }
    } else {
        return std::nullopt;
    }
    if (used != static_cast<int>(text.size()))
        return std::nullopt;
    if (!hasTime && endOfDay) {
        hour = 23;
        minute = 59;
        second = 59;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    // mktime carries 2026-02-30 into March: such a date is no date.
    if (t == static_cast<std::time_t>(-1) || tm.tm_year != year - 1900 || tm.tm_mon != month - 1 ||
        tm.tm_mday != day || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

std::string journalTimeText(std::int64_t seconds) {
    return localTime(seconds, "%Y-%m-%d %H:%M:%S");
}

void writeJournal(std::ostream& out, const std::vector<JournalEntry>& entries,
                  JournalFormat format) {
    switch (format) {
    case JournalFormat::Table:
        writeTable(out, entries);
        break;
    case JournalFormat::Csv:
        writeCsv(out, entries);
        break;
    case JournalFormat::Json:
        writeJson(out, entries);
        break;
    }
}

} // namespace backoffice
