#pragma once
// The back office's SQLite database: a connection, prepared statements and transactions,
// each released on every path.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace backoffice {

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Statement;
class CachedStatement;

// The files of the back office hold password hashes and keys: `path` is made readable and
// writable by its owner alone, whatever the umask. A file that does not exist is created
// empty when `create`; one that exists loses any access its group and others had.
void keepPrivate(const std::string& path, bool create);

class Database {
public:
    // Opens (creating when asked) the file in WAL mode with foreign keys on; a commit
    // waits for the disk (synchronous FULL) unless fullSync is false. The file, its
    // write-ahead log and shared memory are its owner's alone.
    explicit Database(const std::string& path, bool create = false, bool fullSync = true);
    struct ReadOnly {};
    // Opens an existing file for reading only, changing nothing in it: a database that a
    // server is serving may be read meanwhile (WAL lets a reader and the writer work side
    // by side; a checkpoint's lock is waited for).
    Database(const std::string& path, ReadOnly);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const std::string& sql);
    Statement prepare(std::string_view sql);
    // The statement prepared once on this connection and kept, for statements that every
    // write runs; it is reset when the returned handle goes.
    CachedStatement cached(const std::string& sql);
    std::int64_t lastInsertId() const { return sqlite3_last_insert_rowid(db_); }
    // Rows changed by the last statement.
    int changes() const { return sqlite3_changes(db_); }
    sqlite3* handle() const { return db_; }
    // Whether a transaction is open on the connection.
    bool inTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

private:
    sqlite3* db_ = nullptr;
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> cache_;
};

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Binds by 1-based position.
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, std::string_view value);
    Statement& bindNull(int index);

    // Steps once: true while a row is there.
    bool step();
    // Runs a statement that returns no rows.
    void run();
    void reset();

    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    double real(int column) const { return sqlite3_column_double(stmt_, column); }
    std::string text(int column) const;
    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class CachedStatement {
public:
    explicit CachedStatement(Statement& statement) : statement_(statement) {}
    ~CachedStatement() { statement_.reset(); }
    CachedStatement(const CachedStatement&) = delete;
    CachedStatement& operator=(const CachedStatement&) = delete;
    Statement& operator*() { return statement_; }
    Statement* operator->() { return &statement_; }

private:
    Statement& statement_;
};

// One write transaction: committed by commit(), rolled back when left without it.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& db_;
    bool done_ = false;
};

} // namespace backoffice
