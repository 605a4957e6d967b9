#pragma once
// The key that seals the journal's chain. It is kept outside the database, in FILE.key beside
// the database FILE, readable and writable by the back office's user alone: whoever can write
// the database but not the key cannot recompute a hash the check accepts. The key file also
// keeps, from the moment it was made, what the tables held then (the VIP rates, the last sync
// serial and review process), so that the check can hold the tables to the journal.

#include "Database.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace backoffice {

struct JournalKey {
    std::array<unsigned char, 32> bytes{};
    // The first entry sealed with the key; those before it are from a version without a key.
    std::int64_t keyedFrom = 1;
    // The digest of the VIP rates when the key was made (see vipStateDigest).
    std::string vipState;
    // The last sync serial number and review process when the key was made: every one after
    // them has its journal entry.
    std::int64_t syncsBefore = 0;
    std::int64_t reviewsBefore = 0;
};

class JournalKeyError : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

// FILE.key for the database FILE.
std::string journalKeyPath(const std::string& databaseFile);
// The file the connection has open.
std::string databaseFile(Database& db);

// A database just made: a new key, replacing a stale one a removed database left behind.
void makeJournalKey(Database& db);
// A database opened to be written: keeps its key, or makes one when it has none and nothing
// would be lost by it (an empty journal, or one of a version without a key). A journal sealed
// with a key that is gone is refused (a JournalKeyError): a new key would hide its entries.
void ensureJournalKey(Database& db);
// The key file as it is now; nothing when there is none.
std::optional<JournalKey> readJournalKey(Database& db);
// The database's key, read once per process; a JournalKeyError when there is none.
JournalKey journalKeyOf(Database& db);

// The VIP rates, fund account by fund account, as the journal writes rates, hashed: the
// same tables give the same digest.
std::string vipStateDigest(const std::map<std::int64_t, std::string>& rates);

} // namespace backoffice
