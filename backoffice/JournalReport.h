#pragma once
// The journal as people and tools read it: a table with Chinese headings for a terminal,
// CSV that a spreadsheet opens with its Chinese intact (UTF-8 with a byte-order mark), or
// JSON lines. Times are the machine's local time.

#include "Journal.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace backoffice {

enum class JournalFormat { Table, Csv, Json };

std::optional<JournalFormat> parseJournalFormat(const std::string& name);

// "2026-12-08", "20261208", "2026-12-08 14:30" or "2026-12-08 14:30:05" (a "T" may stand for
// the blank), local time, in seconds since 1970. A date alone is its first second, or its
// last with endOfDay. Nothing for anything else.
std::optional<std::int64_t> parseJournalTime(const std::string& text, bool endOfDay);

// "2026-12-08 14:30:05", local time.
std::string journalTimeText(std::int64_t seconds);

void writeJournal(std::ostream& out, const std::vector<JournalEntry>& entries,
                  JournalFormat format);

} // namespace backoffice
