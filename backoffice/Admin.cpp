#include "Admin.h"

#include "JournalKey.h"
#include "PasswordThrottle.h"

#include "Passwords.h"
#include "Seed.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace backoffice {

namespace {

constexpr std::size_t maxNameBytes = 64;
constexpr std::size_t minPasswordCharacters = 8;
constexpr std::size_t maxPasswordBytes = 128;

std::size_t characters(const std::string& utf8) {
    std::size_t n = 0;
    for (const unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

bool hasControl(const std::string& text) {
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

void checkOperatorNo(const std::string& operatorNo) {
    const bool plain =
        !operatorNo.empty() && operatorNo.size() <= 16 &&
        operatorNo.find_first_not_of(
            "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") == std::string::npos;
    if (!plain)
        throw AdminError("operator number '" + operatorNo +
                         "': 1 to 16 letters and digits expected");
}

struct OperatorRow {
    std::string name;
    std::string kind;
    std::int64_t branchNo = 0;
    bool canReview = false;
    bool disabled = false;
    bool hasPassword = false;
};

std::optional<OperatorRow> findOperatorRow(Database& db, const std::string& operatorNo) {
    Statement s = db.prepare("SELECT operator_name, operator_kind, branch_no, can_review, "
                             "disabled, password_hash <> '' FROM operator WHERE operator_no = ?");
    s.bind(1, operatorNo);
    if (!s.step())
        return std::nullopt;
    return OperatorRow{s.text(0),         s.text(1),         s.integer(2),
                       s.integer(3) != 0, s.integer(4) != 0, s.integer(5) != 0};
}

OperatorRow existingOperator(Database& db, const std::string& operatorNo) {
    checkOperatorNo(operatorNo);
    auto row = findOperatorRow(db, operatorNo);
    if (!row)
        throw AdminError("no operator " + operatorNo);
    return *row;
}

void checkFields(Database& db, const OperatorFields& fields) {
    if (fields.name &&
        (fields.name->empty() || fields.name->size() > maxNameBytes || hasControl(*fields.name)))
        throw AdminError("--name: 1 to " + std::to_string(maxNameBytes) +
                         " bytes of printable text expected");
    if (fields.kind && *fields.kind != "1" && *fields.kind != "2")
        throw AdminError("--kind: 1 (operator) or 2 (supervisor) expected, not '" + *fields.kind +
                         "'");
    if (fields.branchNo) {
        Statement s = db.prepare("SELECT 1 FROM branch WHERE branch_no = ?");
        s.bind(1, *fields.branchNo);
        if (!s.step())
            throw AdminError("--branch: no branch " + std::to_string(*fields.branchNo));
    }
}

std::string describe(const OperatorRow& row) {
    return "姓名" + row.name + "，营业部" + std::to_string(row.branchNo) + "，类别" + row.kind +
           "，复核权限" + (row.canReview ? "有" : "无");
}

JournalEntry operatorEntry(const std::string& event, const std::string& admin,
                           const std::string& operatorNo, std::int64_t branchNo,
                           const std::string& what) {
    JournalEntry e = adminEntry(event, admin);
    e.operatorNo = operatorNo;
    e.branchNo = branchNo;
    e.detail = "管理员[" + admin + "]" + what;
    return e;
}

// A raw SQLite connection for the backup API, closed on every path.
class Connection {
public:
    Connection(const std::string& path, int flags) {
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw AdminError("cannot open " + path + ": " + message);
        }
        sqlite3_busy_timeout(db_, 5000);
    }
    ~Connection() { sqlite3_close_v2(db_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// Copies every page of `from` into `to` in one step, so the copy is one consistent state
// of the source even while a server writes to it.
void copyPages(Connection& from, Connection& to, const std::string& what) {
    sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
    if (!backup)
        throw AdminError(what + ": " + sqlite3_errmsg(to.get()));
    int rc = SQLITE_OK;
    for (int attempt = 0; attempt < 200; ++attempt) {
        rc = sqlite3_backup_step(backup, -1);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        throw AdminError(what + ": " + sqlite3_errstr(rc));
}

void checkPages(Database& db, const std::string& path) {
    Statement s = db.prepare("PRAGMA quick_check");
    if (!s.step() || s.text(0) != "ok")
        throw AdminError(path + " is damaged: " + (s.isNull(0) ? "no answer" : s.text(0)));
}

// The journal key goes with its database: without it the copy's journal cannot be checked.
void copyJournalKey(const std::string& fromDatabase, const std::string& toKey) {
    namespace fs = std::filesystem;
    const std::string key = journalKeyPath(fromDatabase);
    if (!fs::exists(key))
        return;
    fs::copy_file(key, toKey, fs::copy_options::overwrite_existing);
    fs::permissions(toKey, fs::perms::owner_read | fs::perms::owner_write);
}

JournalCheck checkCopy(const std::string& path) {
    Database copy(path, Database::ReadOnly{});
    checkPages(copy, path);
    if (!hasJournal(copy))
        throw AdminError(path + " has no journal");
    return verifyJournal(copy);
}

} // namespace

std::string administratorName() {
    if (const char* sudoUser = std::getenv("SUDO_USER"); sudoUser && *sudoUser)
        return sudoUser;
    char login[256] = {};
    if (::getlogin_r(login, sizeof login) == 0 && login[0] != '\0')
        return login;
    const uid_t uid = ::getuid();
    if (const passwd* user = ::getpwuid(uid))
        return user->pw_name;
    return "uid " + std::to_string(uid);
}

std::unique_ptr<Database> openForAdmin(const std::string& path) {
    if (!std::filesystem::exists(path))
        throw AdminError("no database " + path);
    auto db = std::make_unique<Database>(path);
    upgradeSchema(*db);
    // Before any change, so that the key records the tables as they stand.
    ensureJournalKey(*db);
    return db;
}

JournalEntry adminEntry(const std::string& event, const std::string& admin) {
    JournalEntry e;
    e.event = event;
    e.station = admin;
    e.source = "admin";
    return e;
}

std::vector<ThrottledOperator> throttledOperators(Database& db, std::int64_t guessesPerHour,
                                                  std::int64_t nowMs) {
    const std::int64_t window = std::chrono::milliseconds(ThrottleOptions{}.window).count();
    Statement s = db.prepare("SELECT operator_no, at_ms FROM password_guess WHERE cleared = 0 "
                             "AND at_ms > ? ORDER BY operator_no, at_ms");
    s.bind(1, nowMs - window);
    std::vector<ThrottledOperator> throttled;
    std::string current;
    std::vector<std::int64_t> times;
    const auto close = [&] {
        const auto count = static_cast<std::int64_t>(times.size());
        // The bound lifts once enough of the oldest guesses leave the window that a new one
        // fits.
        if (!current.empty() && count >= guessesPerHour)
            throttled.push_back(
                {current, count, times[static_cast<std::size_t>(count - guessesPerHour)] + window});
        times.clear();
    };
    while (s.step()) {
        if (s.text(0) != current) {
            close();
            current = s.text(0);
        }
        times.push_back(s.integer(1));
    }
    close();
    return throttled;
}

void listOperators(Database& db, std::ostream& out, std::int64_t guessesPerHour) {
    const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    std::vector<std::string> throttled;
    for (const ThrottledOperator& t : throttledOperators(db, guessesPerHour, nowMs))
        throttled.push_back(t.operatorNo);
    Statement s = db.prepare("SELECT operator_no, operator_name, operator_kind, branch_no, "
                             "can_review, disabled, password_hash <> '' FROM operator "
                             "ORDER BY operator_no");
    out << "operator\tname\tkind\tbranch\treviewer\tstate\n";
    while (s.step()) {
        const bool isThrottled =
            std::find(throttled.begin(), throttled.end(), s.text(0)) != throttled.end();
        const char* state = s.integer(5) != 0   ? "disabled"
                            : s.integer(6) == 0 ? "no-password"
                            : isThrottled       ? "throttled"
                                                : "active";
        out << s.text(0) << '\t' << s.text(1) << '\t' << s.text(2) << '\t' << s.integer(3) << '\t'
            << (s.integer(4) != 0 ? "yes" : "no") << '\t' << state << '\n';
    }
}

void addOperator(Database& db, const std::string& operatorNo, const OperatorFields& fields,
                 const std::string& admin) {
    checkOperatorNo(operatorNo);
    if (!fields.name || !fields.branchNo)
        throw AdminError("operator add needs --name NAME and --branch N");
    checkFields(db, fields);
    Transaction t(db);
    if (findOperatorRow(db, operatorNo))
        throw AdminError("operator " + operatorNo + " exists already");
    const OperatorRow row{*fields.name, fields.kind.value_or("1"), *fields.branchNo,
                          fields.canReview.value_or(false)};
    db.prepare("INSERT INTO operator (operator_no, operator_name, operator_kind, branch_no, "
               "can_review, password_hash) VALUES (?, ?, ?, ?, ?, '')")
        .bind(1, operatorNo)
        .bind(2, row.name)
        .bind(3, row.kind)
        .bind(4, row.branchNo)
        .bind(5, std::int64_t{row.canReview ? 1 : 0})
        .run();
    grantMenuFunctions(db, operatorNo);
    appendJournal(db, operatorEntry(journal::operatorAdded, admin, operatorNo, row.branchNo,
                                    "新增操作员[" + operatorNo + "]：" + describe(row)));
    t.commit();
}

void changeOperator(Database& db, const std::string& operatorNo, const OperatorFields& change,
                    const std::string& admin) {
    if (!change.name && !change.branchNo && !change.canReview && !change.kind)
        throw AdminError("operator set needs at least one of --name, --branch, --reviewer, "
                         "--kind");
    checkFields(db, change);
    Transaction t(db);
    const OperatorRow before = existingOperator(db, operatorNo);
    OperatorRow after = before;
    after.name = change.name.value_or(before.name);
    after.branchNo = change.branchNo.value_or(before.branchNo);
    after.canReview = change.canReview.value_or(before.canReview);
    after.kind = change.kind.value_or(before.kind);
    db.prepare("UPDATE operator SET operator_name = ?, operator_kind = ?, branch_no = ?, "
               "can_review = ? WHERE operator_no = ?")
        .bind(1, after.name)
        .bind(2, after.kind)
        .bind(3, after.branchNo)
        .bind(4, std::int64_t{after.canReview ? 1 : 0})
        .bind(5, operatorNo)
        .run();
    appendJournal(db, operatorEntry(journal::operatorChanged, admin, operatorNo, after.branchNo,
                                    "修改操作员[" + operatorNo + "]：由" + describe(before) +
                                        "改为" + describe(after)));
    t.commit();
}

void setOperatorDisabled(Database& db, const std::string& operatorNo, bool disabled,
                         const std::string& admin) {
    Transaction t(db);
    const OperatorRow row = existingOperator(db, operatorNo);
    if (row.disabled == disabled)
        throw AdminError("operator " + operatorNo + " is " + (disabled ? "disabled" : "enabled") +
                         " already");
    db.prepare("UPDATE operator SET disabled = ? WHERE operator_no = ?")
        .bind(1, std::int64_t{disabled ? 1 : 0})
        .bind(2, operatorNo)
        .run();
    appendJournal(db, operatorEntry(disabled ? journal::operatorDisabled : journal::operatorEnabled,
                                    admin, operatorNo, row.branchNo,
                                    (disabled ? "停用操作员[" : "启用操作员[") + operatorNo + "]"));
    t.commit();
}

void requireOperator(Database& db, const std::string& operatorNo) {
    existingOperator(db, operatorNo);
}

void setOperatorPassword(Database& db, const std::string& operatorNo, const std::string& password,
                         const std::string& admin) {
    requireOperator(db, operatorNo);
    if (characters(password) < minPasswordCharacters)
        throw AdminError("the password is shorter than " + std::to_string(minPasswordCharacters) +
                         " characters; nothing changed");
    if (password.size() > maxPasswordBytes || hasControl(password))
        throw AdminError("the password must be at most " + std::to_string(maxPasswordBytes) +
                         " bytes of printable characters; nothing changed");
    // Hashed before the transaction: the slow hash holds no lock.
    const std::string hash = Passwords::hash(password);
    Transaction t(db);
    const OperatorRow row = existingOperator(db, operatorNo);
    db.prepare("UPDATE operator SET password_hash = ? WHERE operator_no = ?")
        .bind(1, hash)
        .bind(2, operatorNo)
        .run();
    appendJournal(db, operatorEntry(journal::passwordSet, admin, operatorNo, row.branchNo,
                                    "设置操作员[" + operatorNo + "]的密码"));
    t.commit();
}

std::int64_t releaseOperator(Database& db, const std::string& operatorNo,
                             const std::string& admin) {
    Transaction t(db);
    const OperatorRow row = existingOperator(db, operatorNo);
    // The guesses counted against the operator go, so he may be guessed at (and log in)
    // from any counter again.
    const std::int64_t released = PasswordThrottle::release(db, operatorNo);
    appendJournal(db, operatorEntry(journal::operatorReleased, admin, operatorNo, row.branchNo,
                                    "解除操作员[" + operatorNo + "]的密码错误限制，清除近期错误" +
                                        std::to_string(released) + "次"));
    t.commit();
    return released;
}

namespace {

// Echo off on the terminal for as long as it lives.
class NoEcho {
public:
    explicit NoEcho(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
            quiet.c_lflag |= ECHONL;
            active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~NoEcho() {
        if (active_)
            ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

// One line of the descriptor, without its end; nothing at the end of input.
std::optional<std::string> readLine(int fd) {
    std::string line;
    char c;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return line.empty() ? std::nullopt : std::optional(line);
        if (c == '\n')
            break;
        line.push_back(c);
        if (line.size() > 4096)
            throw AdminError("the password line is too long");
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

std::string readNewPassword(const std::string& operatorNo) {
    if (!::isatty(STDIN_FILENO)) {
        auto line = readLine(STDIN_FILENO);
        if (!line)
            throw AdminError("no password on standard input");
        return *line;
    }
    NoEcho quiet(STDIN_FILENO);
    std::fprintf(stderr, "New password for operator %s: ", operatorNo.c_str());
    std::fflush(stderr);
    const auto first = readLine(STDIN_FILENO);
    std::fprintf(stderr, "Retype the new password: ");
    std::fflush(stderr);
    const auto second = readLine(STDIN_FILENO);
    if (!first || !second)
        throw AdminError("no password entered");
    if (*first != *second)
        throw AdminError("the passwords differ; nothing changed");
    return *first;
}

JournalCheck backupDatabase(const std::string& from, const std::string& to) {
    namespace fs = std::filesystem;
    if (!fs::exists(from))
        throw AdminError("no database " + from);
    if (fs::exists(to))
        throw AdminError(to + " exists; not overwritten");
    // Written under another name and renamed once checked: a backup that fails leaves no
    // file that looks like one.
    const std::string part = to + ".part";
    fs::remove(part);
    try {
        {
            Connection source(from, SQLITE_OPEN_READONLY);
            keepPrivate(part, true);
            Connection copy(part, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            copyPages(source, copy, "backup of " + from);
            copyJournalKey(from, journalKeyPath(part));
            // One self-contained file, without a write-ahead log beside it.
            if (sqlite3_exec(copy.get(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) !=
                SQLITE_OK)
                throw AdminError("backup of " + from + ": " + sqlite3_errmsg(copy.get()));
        }
        const JournalCheck check = checkCopy(part);
        if (fs::exists(journalKeyPath(part)))
            fs::rename(journalKeyPath(part), journalKeyPath(to));
        fs::rename(part, to);
        return check;
    } catch (...) {
        std::error_code ignored;
        fs::remove(part, ignored);
        fs::remove(journalKeyPath(part), ignored);
        fs::remove(part + "-wal", ignored);
        fs::remove(part + "-shm", ignored);
        throw;
    }
}

DatabaseLock::DatabaseLock(const std::string& path, Mode mode)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0 && ::flock(fd_, (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0)
        acquired_ = false;
}

DatabaseLock::~DatabaseLock() {
    // Closed last, after every SQLite connection to the file of this process is.
    if (fd_ >= 0)
        ::close(fd_);
}

namespace {
// Ends a restore's detail, before the replaced chain's head N:HASH.
constexpr char replacedHeadMark[] = "；此前的链末条 ";
// Around the backup's path in a restore's detail.
constexpr char backupMark[] = "从备份";
constexpr char restoredMark[] = "恢复数据库（备份的日志";
} // namespace

void restoreDatabase(const std::string& from, const std::string& db, const std::string& admin) {
    if (!std::filesystem::exists(from))
        throw AdminError("no backup " + from);
    const DatabaseLock lock(db, DatabaseLock::Mode::Exclusive);
    if (!lock.acquired())
        throw AdminError("a server has " + db +
                         " open; stop it first (systemctl stop marlo-backoffice, or end its "
                         "serve process), restore, then start it again");
    const JournalCheck check = checkCopy(from);
    if (check.brokenAt)
        throw AdminError(from + ": its journal breaks at entry " + std::to_string(*check.brokenAt) +
                         " (" + check.explanation + "); not restored");
    JournalCheckpoint replaced;
    if (std::filesystem::exists(db)) {
        Database before(db, Database::ReadOnly{});
        if (hasJournal(before))
            replaced = journalHead(before);
    }
    // The backup's key replaces the database's along with its pages.
    const std::string newKey = journalKeyPath(db) + ".restored";
    copyJournalKey(from, newKey);
    {
        Connection source(from, SQLITE_OPEN_READONLY);
        Connection target(db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        copyPages(source, target, "restore of " + db);
    }
    if (std::filesystem::exists(newKey))
        std::filesystem::rename(newKey, journalKeyPath(db));
    const auto restored = openForAdmin(db);
    Transaction t(*restored);
    JournalEntry e = adminEntry(journal::databaseRestored, admin);
    e.detail = "管理员[" + admin + "]" + backupMark + from + restoredMark +
               std::to_string(check.checked) + "条完好）" + replacedHeadMark +
               formatJournalCheckpoint(replaced);
    appendJournal(*restored, e);
    t.commit();
}

std::optional<JournalRestart> findJournalRestart(Database& db,
                                                 const JournalCheckpoint& checkpoint) {
    Statement s = db.prepare("SELECT entry_no, occurred_at, op_station, detail FROM journal "
                             "WHERE event = ? ORDER BY entry_no");
    s.bind(1, std::string_view(journal::databaseRestored));
    while (s.step()) {
        const std::string detail = s.text(3);
        const std::size_t mark = detail.rfind(replacedHeadMark);
        if (mark == std::string::npos)
            continue;
        const auto head =
            parseJournalCheckpoint(detail.substr(mark + std::strlen(replacedHeadMark)));
        // Entries before the restore's are the backup's, the same in both chains: a
        // checkpoint among them must hold.
        if (!head || head->entryNo < checkpoint.entryNo || checkpoint.entryNo < s.integer(0))
            continue;
        const std::size_t from = detail.find(backupMark);
        const std::size_t to = detail.rfind(restoredMark);
        const std::string backup =
            from != std::string::npos && to != std::string::npos && to > from
                ? detail.substr(from + std::strlen(backupMark), to - from - std::strlen(backupMark))
                : std::string();
        return JournalRestart{s.integer(0), s.integer(1), s.text(2), backup, *head};
    }
    return std::nullopt;
}

} // namespace backoffice
