#include "JournalKey.h"

#include "Journal.h"

#include <sodium.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace backoffice {

namespace {

std::mutex keysMutex;
// Keys read, by database file: every write seals with the key, which never changes while the
// database is open.
std::map<std::string, JournalKey>& keys() {
    static std::map<std::string, JournalKey> known;
    return known;
}

std::string hex(const unsigned char* bytes, std::size_t size) {
    std::string out(size * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes, size);
    out.pop_back();
    return out;
}

std::string keyFileText(const JournalKey& key) {
    std::ostringstream out;
    out << "# The key that seals the journal of the back-office database beside this file.\n"
           "# Keep it with its database (a backup takes both) and readable by the back office\n"
           "# alone: whoever can read it can forge the journal.\n"
        << "key=" << hex(key.bytes.data(), key.bytes.size()) << "\n"
        << "keyed_from=" << key.keyedFrom << "\n"
        << "vip_state=" << key.vipState << "\n"
        << "syncs_before=" << key.syncsBefore << "\n"
        << "reviews_before=" << key.reviewsBefore << "\n";
    return out.str();
}

JournalKey parseKeyFile(const std::string& path, std::istream& in) {
    JournalKey key;
    bool haveKey = false;
    const auto bad = [&](const std::string& why) {
        return JournalKeyError("journal key " + path + ": " + why);
    };
    const auto number = [&](const std::string& text) {
        try {
            std::size_t used = 0;
            const long long n = std::stoll(text, &used);
            if (used != text.size() || n < 0)
                throw bad("not a number: " + text);
            return static_cast<std::int64_t>(n);
        } catch (const std::logic_error&) {
            throw bad("not a number: " + text);
        }
    };
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            throw bad("a line without '='");
        const std::string name = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (name == "key") {
            std::size_t length = 0;
            if (sodium_hex2bin(key.bytes.data(), key.bytes.size(), value.data(), value.size(),
                               nullptr, &length, nullptr) != 0 ||
                length != key.bytes.size())
                throw bad("the key is not 64 hexadecimal digits");
            haveKey = true;
        } else if (name == "keyed_from") {
            key.keyedFrom = number(value);
        } else if (name == "vip_state") {
            key.vipState = value;
        } else if (name == "syncs_before") {
            key.syncsBefore = number(value);
        } else if (name == "reviews_before") {
            key.reviewsBefore = number(value);
        }
    }
    if (!haveKey || key.vipState.empty())
        throw bad("incomplete");
    return key;
}

// The key file, or nothing when there is none.
std::optional<JournalKey> readKeyFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT)
            return std::nullopt;
        throw JournalKeyError("cannot read the journal key " + path + ": " + std::strerror(errno));
    }
    return parseKeyFile(path, in);
}

// Written whole beside the target and moved over it, readable by the owner alone; `replace`
// false leaves a key that another process made meanwhile in place.
void writeKeyFile(const std::string& path, const JournalKey& key, bool replace) {
    const std::string temporary = path + ".new" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw JournalKeyError("cannot write the journal key " + temporary + ": " +
                              std::strerror(errno));
    const std::string text = keyFileText(key);
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    const auto failed = [&](const char* what, int error) {
        ::unlink(temporary.c_str());
        return JournalKeyError(std::string("cannot ") + what + " the journal key " + path + ": " +
                               std::strerror(error));
    };
    if (!written)
        throw failed("write", writeErrno);
    if (replace ? ::rename(temporary.c_str(), path.c_str()) != 0
                : ::link(temporary.c_str(), path.c_str()) != 0 && errno != EEXIST)
        throw failed(replace ? "move" : "link", errno);
    ::unlink(temporary.c_str());
}

std::int64_t scalar(Database& db, const char* sql) {
    Statement s = db.prepare(sql);
    return s.step() ? s.integer(0) : 0;
}

// A key for the database as it stands: its entries from the next number on are sealed with it.
JournalKey freshKey(Database& db) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    JournalKey key;
    randombytes_buf(key.bytes.data(), key.bytes.size());
    key.keyedFrom = scalar(db, "SELECT seq FROM sqlite_sequence WHERE name = 'journal'") + 1;
    std::map<std::int64_t, std::string> rates;
    Statement s = db.prepare("SELECT fund_account, discount_rate FROM vip_client");
    while (s.step())
        rates[s.integer(0)] = journalRate(s.real(1));
    key.vipState = vipStateDigest(rates);
    key.syncsBefore = scalar(db, "SELECT coalesce(max(serial_no), 0) FROM sync_request");
    key.reviewsBefore = scalar(db, "SELECT coalesce(max(process_id), 0) FROM review_process");
    return key;
}

void markKeyed(Database& db, std::int64_t keyedFrom) {
    db.exec("DELETE FROM journal_key");
    db.prepare("INSERT INTO journal_key (keyed_from) VALUES (?)").bind(1, keyedFrom).run();
}

// Made under the database's write lock, so that no entry or change slips in between the
// state the key records and the mark.
void makeKey(Database& db, bool replace) {
    const std::string file = databaseFile(db);
    const std::string path = journalKeyPath(file);
    Transaction t(db);
    const JournalKey key = freshKey(db);
    writeKeyFile(path, key, replace);
    const std::optional<JournalKey> kept = readKeyFile(path);
    if (!kept)
        throw JournalKeyError("the journal key " + path + " vanished");
    markKeyed(db, kept->keyedFrom);
    t.commit();
    const std::scoped_lock lock(keysMutex);
    keys()[file] = *kept;
}

} // namespace

std::string journalKeyPath(const std::string& databaseFile) {
    return databaseFile + ".key";
}

std::string databaseFile(Database& db) {
    const char* file = sqlite3_db_filename(db.handle(), "main");
    if (!file || !*file)
        throw JournalKeyError("the journal needs a database file");
    return file;
}

std::string vipStateDigest(const std::map<std::int64_t, std::string>& rates) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    crypto_generichash_state state;
    unsigned char out[crypto_generichash_BYTES];
    crypto_generichash_init(&state, nullptr, 0, sizeof out);
    for (const auto& [fundAccount, rate] : rates) {
        const std::string line = std::to_string(fundAccount) + " " + rate + "\n";
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(line.data()),
                                  line.size());
    }
    crypto_generichash_final(&state, out, sizeof out);
    return hex(out, sizeof out);
}

void makeJournalKey(Database& db) {
    makeKey(db, true);
}

void ensureJournalKey(Database& db) {
    const std::string file = databaseFile(db);
    const std::string path = journalKeyPath(file);
    if (std::optional<JournalKey> key = readKeyFile(path)) {
        // A mark lost or never written (the key made by a process that stopped before it
        // committed) is written again: the key file is what counts.
        if (scalar(db, ("SELECT count(*) FROM journal_key WHERE keyed_from = " +
                        std::to_string(key->keyedFrom))
                           .c_str()) == 0) {
            Transaction t(db);
            markKeyed(db, key->keyedFrom);
            t.commit();
        }
        const std::scoped_lock lock(keysMutex);
        keys()[file] = *key;
        return;
    }
    const bool sealed = scalar(db, "SELECT count(*) FROM journal_key") > 0;
    const bool hasEntries =
        scalar(db, "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'journal'), 0)") >
        0;
    if (sealed && hasEntries)
        throw JournalKeyError("the journal key " + path +
                              " is missing: the journal was sealed with it and cannot be "
                              "checked or continued without it (restore it from the backup "
                              "it was kept with)");
    makeKey(db, false);
}

std::optional<JournalKey> readJournalKey(Database& db) {
    return readKeyFile(journalKeyPath(databaseFile(db)));
}

JournalKey journalKeyOf(Database& db) {
    const std::string file = databaseFile(db);
    {
        const std::scoped_lock lock(keysMutex);
        if (const auto found = keys().find(file); found != keys().end())
            return found->second;
    }
    const std::string path = journalKeyPath(file);
    std::optional<JournalKey> key = readKeyFile(path);
    if (!key)
        throw JournalKeyError("the journal key " + path + " is missing");
    const std::scoped_lock lock(keysMutex);
    return keys().insert_or_assign(file, *key).first->second;
}

} // namespace backoffice
