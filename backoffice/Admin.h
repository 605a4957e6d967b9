#pragma once
// The administration commands on a back-office database: operators, backup and restore.
// Every change is written with its journal entry in one transaction; the entry names the
// administrator by his login name.

#include "Database.h"
#include "Journal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace backoffice {

// A command refused: the message says why, for the administrator.
class AdminError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Who runs the command: the user who ran sudo, else the login user, else the name of the
// process's user id.
std::string administratorName();

// Opens an existing database for a command, with the tables of this version.
std::unique_ptr<Database> openForAdmin(const std::string& path);

// A journal entry of an administration command.
JournalEntry adminEntry(const std::string& event, const std::string& admin);

struct OperatorFields {
    std::optional<std::string> name;
    std::optional<std::int64_t> branchNo;
    std::optional<bool> canReview;
    std::optional<std::string> kind; // "1" an operator, "2" a supervisor
};

struct ThrottledOperator {
    std::string operatorNo;
    std::int64_t guesses = 0;   // counted within the last hour
    std::int64_t liftsAtMs = 0; // when the oldest of them ages out far enough
};
// The operators whose guesses of the last hour have used up `guessesPerHour`, as of `nowMs`.
std::vector<ThrottledOperator> throttledOperators(Database& db, std::int64_t guessesPerHour,
                                                  std::int64_t nowMs);

// One line per operator: number, name, kind, branch, review right, state (disabled,
// no-password, throttled or active; throttled by `guessesPerHour`).
void listOperators(Database& db, std::ostream& out, std::int64_t guessesPerHour);
// A new operator with the five menu functions and no password: he cannot log in until
// `setOperatorPassword`. Name and branch are needed.
void addOperator(Database& db, const std::string& operatorNo, const OperatorFields& fields,
                 const std::string& admin);
void changeOperator(Database& db, const std::string& operatorNo, const OperatorFields& change,
                    const std::string& admin);
// A disabled operator's next request is refused and ends his session.
void setOperatorDisabled(Database& db, const std::string& operatorNo, bool disabled,
                         const std::string& admin);
// An AdminError unless the operator is there.
void requireOperator(Database& db, const std::string& operatorNo);
// At least 8 characters.
void setOperatorPassword(Database& db, const std::string& operatorNo, const std::string& password,
                         const std::string& admin);
// Lifts the hourly bound of guesses at the operator; gives how many counted guesses went.
std::int64_t releaseOperator(Database& db, const std::string& operatorNo, const std::string& admin);

// Reads a new password: twice without echo when standard input is a terminal (prompts on
// standard error), else one line of standard input.
std::string readNewPassword(const std::string& operatorNo);

// Copies `from` to `to` (which must not exist) with SQLite's online backup, while a server
// may be serving `from`, then checks the copy: its pages, then its journal.
JournalCheck backupDatabase(const std::string& from, const std::string& to);

// Held shared by each server for as long as it serves the database, and exclusively by a
// restore: a restore is refused while a server has the database, and a server does not
// start during a restore. (An advisory lock of its own on the file, apart from SQLite's
// locks.) A file that is not there is not locked.
class DatabaseLock {
public:
    enum class Mode { Shared, Exclusive };
    DatabaseLock(const std::string& path, Mode mode);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;
    // False when another process holds it in a mode that excludes this one.
    bool acquired() const { return acquired_; }

private:
    bool acquired_ = true;
    int fd_ = -1;
};

// Replaces `db` by the copy `from` once the copy's pages and journal check out; refused
// while a server has `db` open. The restore is journaled in the restored database.
// The restore's journal entry names the backup and the head of the chain it replaced, so
// that a checkpoint of that chain is told apart from tampering.
void restoreDatabase(const std::string& from, const std::string& db, const std::string& admin);

// Where a restore started the chain anew over the one a checkpoint was taken of.
struct JournalRestart {
    std::int64_t entryNo = 0; // the restore's entry
    std::int64_t at = 0;      // seconds since 1970
    std::string by;
    std::string backup;
    JournalCheckpoint replacedHead; // the replaced chain's last entry
};
// The first restore whose replaced chain reached the checkpoint's entry; nothing when none
// did (a checkpoint that still fails is then tampering).
std::optional<JournalRestart> findJournalRestart(Database& db, const JournalCheckpoint& checkpoint);

} // namespace backoffice
