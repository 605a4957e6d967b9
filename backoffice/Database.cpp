#include "Database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace backoffice {

namespace {
[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    throw DatabaseError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}
} // namespace

void keepPrivate(const std::string& path, bool create) {
    // Created 0600 here, the umask can only take bits away; SQLite gives the write-ahead log
    // and shared memory it creates the mode of their database. A file that exists is changed
    // by its name: opening and closing it would drop the locks this process's SQLite
    // connections hold on it.
    if (create) {
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            return;
        }
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0077) != 0)
        ::chmod(path.c_str(), st.st_mode & 0700);
}

Database::Database(const std::string& path, bool create, bool fullSync) {
    for (const char* suffix : {"", "-wal", "-shm"})
        keepPrivate(path + suffix, create && *suffix == '\0');
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw DatabaseError("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    // FULL: an acknowledged write survives a power loss, not only a crash.
    exec(std::string("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON; PRAGMA synchronous=") +
         (fullSync ? "FULL;" : "NORMAL;"));
}

Database::Database(const std::string& path, ReadOnly) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw DatabaseError("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    exec("PRAGMA query_only=ON");
}

Database::~Database() {
    cache_.clear();
    sqlite3_close_v2(db_);
}

CachedStatement Database::cached(const std::string& sql) {
    auto found = cache_.find(sql);
    if (found == cache_.end())
        found = cache_.emplace(sql, std::make_unique<Statement>(db_, sql)).first;
    return CachedStatement(*found->second);
}

void Database::exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw DatabaseError("SQL failed: " + text);
    }
}

Statement Database::prepare(std::string_view sql) {
    return Statement(db_, sql);
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK)
        fail(db, "cannot prepare '" + std::string(sql) + "'");
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept : db_(other.db_), stmt_(other.stmt_) {
    other.stmt_ = nullptr;
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

Statement& Statement::bind(int index, double value) {
    if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

Statement& Statement::bind(int index, std::string_view value) {
    if (sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(db_, "step");
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::string Statement::text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
             : std::string();
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.exec("ROLLBACK");
        } catch (const DatabaseError&) {
        }
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    done_ = true;
}

} // namespace backoffice
