// marlo-backoffice: makes a back-office database, serves one to counters over TCP or TLS,
// makes a self-signed certificate for a training room, reads and checks the journal, and
// administers operators, clients, backups and restores. `marlo-backoffice help` lists the
// commands.

#include "Admin.h"
#include "BackOffice.h"
#include "Certificate.h"
#include "ClientCsv.h"
#include "CommandLine.h"
#include "JournalCheckpoints.h"
#include "JournalReport.h"
#include "Log.h"
#include "OfficeService.h"
#include "Seed.h"
#include "ServeConfig.h"
#include "ServerStatus.h"
#include "TcpServer.h"

#include <pthread.h>
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using backoffice::OptionRule;
using backoffice::Options;
using backoffice::UsageError;
using Kind = OptionRule::Kind;

// Exit statuses: 0 done, 1 failed or refused, 2 bad command line, 3 a journal that breaks,
// 4 a checkpoint of a chain a restore replaced.
constexpr int failed = 1;
constexpr int badUsage = 2;
constexpr int journalBroken = 3;
constexpr int journalRestarted = 4;

constexpr char version[] = MARLO_VERSION;

std::string need(const Options& options, const char* name, const char* what) {
    if (!options.has(name))
        throw UsageError(std::string("--") + name + " " + what + " is needed");
    return options.text(name);
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        if (comma > start)
            items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

std::string localTime(std::time_t at, const char* format = "%Y-%m-%d %H:%M:%S") {
    std::tm local{};
    ::localtime_r(&at, &local);
    char text[64] = {};
    std::strftime(text, sizeof text, format, &local);
    return text;
}

int seed(const Options& options) {
    const std::string db = need(options, "db", "FILE");
    if (options.has("clients") && options.has("empty"))
        throw UsageError("--clients and --empty exclude each other");
    if (std::filesystem::exists(db)) {
        std::fprintf(stderr, "marlo-backoffice: %s exists; not overwritten\n", db.c_str());
        return failed;
    }
    backoffice::Database database(db, true);
    if (options.has("clients")) {
        const std::int64_t clients = options.number("clients", 0);
        backoffice::seedGenerated(database, clients,
                                  static_cast<int>(options.number("vip-percent", 50)));
        std::printf("seeded %s with %lld clients\n", db.c_str(), static_cast<long long>(clients));
    } else if (options.has("empty")) {
        backoffice::seedEmpty(database);
        std::printf("seeded %s with the branches and dictionaries, no clients, no operators\n",
                    db.c_str());
    } else {
        backoffice::seedTraining(database);
        std::printf("seeded %s with the training data\n", db.c_str());
    }
    return 0;
}

// SIGTERM and SIGINT finish the server, SIGHUP reads its configuration again: a thread of
// its own waits for them, so every other thread has them blocked from the start.
class StopOnSignal {
public:
    static sigset_t signals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGHUP);
        return set;
    }
    StopOnSignal(backoffice::TcpServer& server, std::function<void()> reload)
        : thread_([this, &server, reload = std::move(reload)] {
              const sigset_t set = signals();
              int signal = 0;
              while (sigwait(&set, &signal) == 0 && !leaving_) {
                  if (signal == SIGHUP) {
                      sd_notify(0, "RELOADING=1");
                      reload();
                      sd_notify(0, "READY=1");
                      continue;
                  }
                  backoffice::logLine(backoffice::LogPriority::Notice,
                                      std::string("stopping on ") + ::strsignal(signal) +
                                          ": answering the requests in hand");
                  sd_notify(0, "STOPPING=1");
                  server.finish();
                  return;
              }
          }) {}
    ~StopOnSignal() {
        leaving_ = true;
        ::pthread_kill(thread_.native_handle(), SIGTERM);
        thread_.join();
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

private:
    std::atomic<bool> leaving_{false};
    std::thread thread_;
};

// Publishes the registry's snapshot beside the database while the server runs, and takes
// it away when it stops.
class SnapshotPublisher {
public:
    SnapshotPublisher(const backoffice::SessionRegistry& registry, std::string path)
        : path_(std::move(path)), thread_([this, &registry] {
              std::unique_lock lock(mutex_);
              while (!leaving_) {
                  if (!registry.publish(path_) && !warned_) {
                      backoffice::logLine(backoffice::LogPriority::Warning,
                                          "cannot write " + path_ +
                                              "; marlo-backoffice status cannot see the server");
                      warned_ = true;
                  }
                  // Sooner after a login or a logout: a poll of the registry, not a signal
                  // from every request.
                  for (int tick = 0; tick < 20 && !leaving_ && !registry.changed(); ++tick)
                      wake_.wait_for(lock, std::chrono::milliseconds(250));
              }
          }) {}
    ~SnapshotPublisher() {
        {
            const std::lock_guard lock(mutex_);
            leaving_ = true;
        }
        wake_.notify_all();
        thread_.join();
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    SnapshotPublisher(const SnapshotPublisher&) = delete;
    SnapshotPublisher& operator=(const SnapshotPublisher&) = delete;

private:
    std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool leaving_ = false;
    bool warned_ = false;
    std::thread thread_;
};

// The options of the command line over those of the configuration file.
Options serveOptionsOf(const Options& commandLine) {
    Options options = commandLine;
    if (commandLine.has("config"))
        options.fillFrom(
            backoffice::readConfigFile(commandLine.text("config"), backoffice::serveOptions()));
    return options;
}

std::string fingerprintOrNone(const std::string& certificate) {
    try {
        return backoffice::readCertificateFacts(certificate).fingerprint;
    } catch (const std::exception&) {
        return {};
    }
}

// SIGHUP: the configuration read again. The time-outs, the strangers per address, the log
// level and the certificate change while serving; anything else is said to need a restart.
// A configuration that cannot be read changes nothing.
struct InUse {
    Options options;
    std::string fingerprint; // of the certificate served
};

void reloadServing(const Options& commandLine, InUse& served, backoffice::TcpServer& server,
                   backoffice::SessionRegistry& registry) {
    Options& inUse = served.options;
    using backoffice::LogPriority;
    if (!commandLine.has("config")) {
        backoffice::logLine(LogPriority::Notice,
                            "SIGHUP: serving without --config, nothing to read again");
        return;
    }
    Options next;
    backoffice::ServeSettings settings;
    try {
        next = serveOptionsOf(commandLine);
        settings = backoffice::serveSettings(next);
    } catch (const std::exception& e) {
        backoffice::logLine(LogPriority::Error, std::string("SIGHUP: ") + e.what() +
                                                    "; keeping the configuration in use");
        return;
    }
    static const std::vector<std::string> live = {"frame-timeout-ms",
                                                  "idle-timeout-s",
                                                  "login-timeout-ms",
                                                  "max-strangers-per-source",
                                                  "log-level",
                                                  "cert",
                                                  "key"};
    std::vector<std::string> names;
    for (const auto& [name, value] : inUse.values())
        names.push_back(name);
    for (const auto& [name, value] : next.values())
        names.push_back(name);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    try {
        server.reload(settings.server);
    } catch (const std::exception& e) {
        backoffice::logLine(LogPriority::Error, std::string("SIGHUP: ") + e.what() +
                                                    "; keeping the configuration in use");
        return;
    }
    backoffice::setLogLevel(settings.logLevel);
    std::string applied;
    std::string restart;
    for (const std::string& name : names) {
        if (inUse.text(name) == next.text(name))
            continue;
        const bool isLive = std::find(live.begin(), live.end(), name) != live.end();
        (isLive ? applied : restart) += " " + name;
    }
    const std::string newFingerprint = fingerprintOrNone(next.text("cert"));
    if (newFingerprint != served.fingerprint && applied.find(" cert") == std::string::npos)
        applied += " cert";
    served.fingerprint = newFingerprint;
    registry.setCertificate(next.text("cert"));
    // What needs a restart stays as it was in use, so the next reload names it again.
    Options merged;
    for (const std::string& name : names) {
        const bool isLive = std::find(live.begin(), live.end(), name) != live.end();
        const Options& from = isLive ? next : inUse;
        if (from.has(name))
            merged.set(name, from.text(name));
    }
    inUse = merged;
    backoffice::logLine(
        LogPriority::Notice,
        "SIGHUP: read " + commandLine.text("config") +
            " again; applied:" + (applied.empty() ? std::string(" nothing changed") : applied) +
            (newFingerprint.empty() ? std::string() : " (certificate " + newFingerprint + ")") +
            (restart.empty() ? std::string() : "; needs a restart to take effect:" + restart));
}

int serve(const Options& commandLine) {
    const sigset_t signals = StopOnSignal::signals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    Options options = serveOptionsOf(commandLine);
    const backoffice::ServeSettings settings = backoffice::serveSettings(options);
    backoffice::setLogLevel(settings.logLevel);
    backoffice::prepareFirstStart(settings, [](const std::string& line) {
        backoffice::logLine(backoffice::LogPriority::Notice, line);
    });
    const backoffice::DatabaseLock lock(settings.db, backoffice::DatabaseLock::Mode::Shared);
    if (!lock.acquired()) {
        backoffice::logLine(backoffice::LogPriority::Error,
                            settings.db + " is being restored; start the server once it is done");
        return failed;
    }
    backoffice::ServerSnapshot about;
    about.pid = static_cast<long>(::getpid());
    about.started = std::time(nullptr);
    about.version = version;
    about.certificate = settings.server.certificateFile;
    about.guessesPerHour = settings.office.throttle.guessesPerOperator;
    const auto registry = std::make_shared<backoffice::SessionRegistry>(about);
    const auto service = backoffice::serviceOf(
        std::make_shared<backoffice::BackOffice>(settings.db, settings.office), registry);
    backoffice::TcpServer server(*service, settings.server);
    const std::string where = std::string(settings.server.certificateFile.empty() ? "tcp" : "tls") +
                              "://" + settings.server.host + ":" + std::to_string(server.port());
    about.listen = where;
    registry->setListen(where);
    // On standard output, with its priority like every line of the log.
    std::printf("<%d>serving %s on %s\n", static_cast<int>(backoffice::LogPriority::Notice),
                settings.db.c_str(), where.c_str());
    std::fflush(stdout);
    const SnapshotPublisher publisher(*registry, backoffice::serverSnapshotPath(settings.db));
    InUse served{options, fingerprintOrNone(settings.server.certificateFile)};
    const StopOnSignal stopper(server, [&commandLine, &served, &server, &registry] {
        reloadServing(commandLine, served, server, *registry);
    });
    sd_notify(0, ("READY=1\nSTATUS=serving " + settings.db + " on " + where).c_str());
    const backoffice::JournalCheckpoints checkpoints(
        settings.db, settings.checkpointInterval,
        [](const std::string& line) { backoffice::logLine(backoffice::LogPriority::Info, line); });
    server.run(false);
    backoffice::logLine(backoffice::LogPriority::Notice, "stopped");
    return 0;
}

// A pair already there (the one a first start made, say) is kept beside the new one.
int cert(const Options& options) {
    const std::string certificate = need(options, "cert", "FILE");
    const std::string key = need(options, "key", "FILE");
    const bool keptOld = backoffice::replaceSelfSignedCertificate(
        certificate, key, split(options.text("host")),
        static_cast<int>(options.number("days", backoffice::defaultCertificateDays)));
    std::printf("wrote %s and %s%s\n", certificate.c_str(), key.c_str(),
                keptOld ? "; the pair they replace is kept as .old beside them" : "");
    std::printf("fingerprint %s\n",
                backoffice::readCertificateFacts(certificate).fingerprint.c_str());
    std::printf("a server serving them takes them on: systemctl reload marlo-backoffice\n");
    return 0;
}

// The journal is read without changing the file, so a database a server is serving can be
// read meanwhile.
std::unique_ptr<backoffice::Database> openJournal(const std::string& db) {
    auto database = std::make_unique<backoffice::Database>(db, backoffice::Database::ReadOnly{});
    if (!backoffice::hasJournal(*database)) {
        std::fprintf(stderr,
                     "marlo-backoffice: %s 没有日志（由早期版本创建，尚未被本版本的后台打开）\n",
                     db.c_str());
        return nullptr;
    }
    return database;
}

// Says where the chain breaks, or that it holds. True when it holds.
bool reportJournal(const backoffice::JournalCheck& check) {
    if (check.brokenAt && check.how == "tables") {
        std::printf("日志校验失败：数据表与日志不符。%s。哈希链%lld条完好。\n",
                    check.explanation.c_str(), static_cast<long long>(check.checked));
        return false;
    }
    if (check.brokenAt) {
        std::printf("日志校验失败：哈希链在第%lld条记录处断开（%s）。%s。此前%lld条完好。\n",
                    static_cast<long long>(*check.brokenAt), check.how.c_str(),
                    check.explanation.c_str(), static_cast<long long>(check.checked));
        return false;
    }
    std::printf("日志完好：已校验%lld条记录，哈希链完整%s，数据表与日志相符。末条哈希 %s\n",
                static_cast<long long>(check.checked),
                check.keyed ? "（已加密钥）" : "（未加密钥）",
                check.headHash.empty() ? "（无）" : check.headHash.c_str());
    return true;
}

// Holds the chain to a checkpoint kept elsewhere when --expect gives one.
int verifyJournal(const Options& options) {
    std::optional<backoffice::JournalCheckpoint> expect;
    if (options.has("expect")) {
        expect = backoffice::parseJournalCheckpoint(options.text("expect"));
        if (!expect)
            throw backoffice::UsageError(
                "--expect " + options.text("expect") +
                ": a checkpoint is N:HASH, as journal checkpoint prints it");
    }
    const auto database = openJournal(need(options, "db", "FILE"));
    if (!database)
        return failed;
    const backoffice::JournalCheck check = backoffice::verifyJournal(*database, expect);
    if (check.brokenAt && expect && !backoffice::verifyJournal(*database).brokenAt) {
        // The chain holds by itself: a checkpoint it does not reach or match may be of the
        // chain a restore replaced.
        if (const auto restart = backoffice::findJournalRestart(*database, *expect)) {
            const std::string when = localTime(restart->at, "%Y-%m-%d %H:%M");
            const bool sameHead = restart->replacedHead.entryNo == expect->entryNo &&
                                  restart->replacedHead.hash == expect->hash;
            std::printf(
                "日志在第%lld条记录处重新开始：%s由%s从备份%s恢复数据库，此前的链末条为%s。"
                "检查点%s属于恢复前的链%s，无法在现在的链上核对；现在的链完好，共%lld条。\n",
                static_cast<long long>(restart->entryNo), when.c_str(), restart->by.c_str(),
                restart->backup.c_str(),
                backoffice::formatJournalCheckpoint(restart->replacedHead).c_str(),
                backoffice::formatJournalCheckpoint(*expect).c_str(),
                sameHead ? "（正是其末条）" : "",
                static_cast<long long>(backoffice::journalHead(*database).entryNo));
            return journalRestarted;
        }
    }
    return reportJournal(check) ? 0 : journalBroken;
}

// The head to keep elsewhere, once the chain is checked: a checkpoint of a broken chain would
// vouch for what broke it.
int journalCheckpoint(const Options& options) {
    const auto database = openJournal(need(options, "db", "FILE"));
    if (!database)
        return failed;
    const backoffice::JournalCheck check = backoffice::verifyJournal(*database);
    if (check.brokenAt) {
        reportJournal(check);
        return journalBroken;
    }
    if (check.headNo == 0) {
        std::fprintf(stderr, "marlo-backoffice: 日志还没有记录，没有检查点\n");
        return failed;
    }
    std::printf("%s\n",
                backoffice::formatJournalCheckpoint({check.headNo, check.headHash}).c_str());
    return 0;
}

int showJournal(const Options& options) {
    const std::string db = need(options, "db", "FILE");
    backoffice::JournalFilter filter;
    const auto time = [&](const char* name, bool endOfDay) {
        if (!options.has(name))
            return;
        const auto t = backoffice::parseJournalTime(options.text(name), endOfDay);
        if (!t)
            throw UsageError(std::string("--") + name + " " + options.text(name) +
                             "：日期应为 YYYY-MM-DD [HH:MM[:SS]]");
        (endOfDay ? filter.until : filter.since) = *t;
    };
    time("since", false);
    time("until", true);
    filter.operatorNo = options.text("operator");
    filter.clientId = options.text("client");
    if (options.has("fund-account"))
        filter.fundAccount = options.number("fund-account", 0);
    const auto format =
        backoffice::parseJournalFormat(options.has("format") ? options.text("format") : "table");
    if (!format)
        throw UsageError("--format " + options.text("format") + ": table, csv or json expected");
    const auto database = openJournal(db);
    if (!database)
        return failed;
    backoffice::writeJournal(std::cout, backoffice::readJournal(*database, filter), *format);
    std::cout.flush();
    return std::cout ? 0 : failed;
}

std::unique_ptr<backoffice::Database> adminDatabase(const Options& options) {
    return backoffice::openForAdmin(need(options, "db", "FILE"));
}

const std::string& operatorNo(const Options& options) {
    return options.words.front();
}

backoffice::OperatorFields operatorFields(const Options& options) {
    backoffice::OperatorFields fields;
    if (options.has("name"))
        fields.name = options.text("name");
    if (options.has("branch"))
        fields.branchNo = options.number("branch", 0);
    if (options.has("reviewer"))
        fields.canReview = options.yes("reviewer", false);
    if (options.has("kind"))
        fields.kind = options.text("kind");
    return fields;
}

// What the server serving `db` published, when one is serving it.
std::optional<backoffice::ServerSnapshot> servingSnapshot(const std::string& db) {
    std::ifstream in(backoffice::serverSnapshotPath(db));
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    auto snapshot = backoffice::parseServerSnapshot(text.str());
    // A snapshot left by a server that was killed is not a server.
    if (!snapshot || snapshot->pid <= 0 ||
        (::kill(static_cast<pid_t>(snapshot->pid), 0) != 0 && errno == ESRCH))
        return std::nullopt;
    return snapshot;
}

std::int64_t guessesPerHourOf(const std::optional<backoffice::ServerSnapshot>& serving) {
    return serving && serving->guessesPerHour > 0
               ? serving->guessesPerHour
               : backoffice::OfficeOptions{}.throttle.guessesPerOperator;
}

int operatorList(const Options& options) {
    const std::string db = need(options, "db", "FILE");
    backoffice::listOperators(*adminDatabase(options), std::cout,
                              guessesPerHourOf(servingSnapshot(db)));
    return 0;
}

int operatorAdd(const Options& options) {
    backoffice::addOperator(*adminDatabase(options), operatorNo(options), operatorFields(options),
                            backoffice::administratorName());
    std::printf("added operator %s; set his password with: marlo-backoffice operator passwd %s "
                "--db %s\n",
                operatorNo(options).c_str(), operatorNo(options).c_str(),
                options.text("db").c_str());
    return 0;
}

int operatorSet(const Options& options) {
    backoffice::changeOperator(*adminDatabase(options), operatorNo(options),
                               operatorFields(options), backoffice::administratorName());
    std::printf("changed operator %s\n", operatorNo(options).c_str());
    return 0;
}

int operatorDisable(const Options& options) {
    backoffice::setOperatorDisabled(*adminDatabase(options), operatorNo(options), true,
                                    backoffice::administratorName());
    std::printf("disabled operator %s; his sessions end with their next request\n",
                operatorNo(options).c_str());
    return 0;
}

int operatorEnable(const Options& options) {
    backoffice::setOperatorDisabled(*adminDatabase(options), operatorNo(options), false,
                                    backoffice::administratorName());
    std::printf("enabled operator %s\n", operatorNo(options).c_str());
    return 0;
}

int operatorPasswd(const Options& options) {
    const auto db = adminDatabase(options);
    // Asked only for an operator who is there.
    backoffice::requireOperator(*db, operatorNo(options));
    const std::string password = backoffice::readNewPassword(operatorNo(options));
    backoffice::setOperatorPassword(*db, operatorNo(options), password,
                                    backoffice::administratorName());
    std::printf("set the password of operator %s\n", operatorNo(options).c_str());
    return 0;
}

int operatorRelease(const Options& options) {
    const std::int64_t released = backoffice::releaseOperator(
        *adminDatabase(options), operatorNo(options), backoffice::administratorName());
    std::printf("released operator %s: %lld counted guesses forgotten\n",
                operatorNo(options).c_str(), static_cast<long long>(released));
    return 0;
}

int clientImport(const Options& options) {
    const std::string file = need(options, "csv", "FILE");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw backoffice::AdminError("cannot read " + file + ": " + std::strerror(errno));
    std::ostringstream bytes;
    bytes << in.rdbuf();
    try {
        const backoffice::ImportCount count = backoffice::importClients(
            *adminDatabase(options), bytes.str(), backoffice::administratorName(), file);
        std::printf("imported %lld clients with %lld fund accounts from %s\n",
                    static_cast<long long>(count.clients),
                    static_cast<long long>(count.fundAccounts), file.c_str());
        return 0;
    } catch (const backoffice::CsvImportError& e) {
        for (const std::string& problem : e.problems())
            std::fprintf(stderr, "%s: %s\n", file.c_str(), problem.c_str());
        std::fprintf(stderr, "marlo-backoffice: %s\n", e.what());
        return failed;
    }
}

int clientExport(const Options& options) {
    backoffice::exportClients(*adminDatabase(options), std::cout);
    std::cout.flush();
    return std::cout ? 0 : failed;
}

// The backups a timer takes into a folder: the database's name with the time, the oldest
// going once they are older than --keep-days.
std::string datedBackup(const std::string& db, const std::string& folder, std::int64_t keepDays) {
    namespace fs = std::filesystem;
    const std::string stem = fs::path(db).stem().string() + "-";
    const std::string to =
        (fs::path(folder) / (stem + localTime(std::time(nullptr), "%Y%m%d-%H%M%S") + ".db"))
            .string();
    const auto oldest = fs::file_time_type::clock::now() - std::chrono::hours(24 * keepDays);
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        const bool ours =
            name.starts_with(stem) && (name.ends_with(".db") || name.ends_with(".db.key"));
        if (ours && entry.is_regular_file() && entry.last_write_time() < oldest) {
            fs::remove(entry.path());
            std::printf("removed %s, older than %lld days\n", entry.path().c_str(),
                        static_cast<long long>(keepDays));
        }
    }
    return to;
}

int backup(const Options& options) {
    const std::string from = need(options, "db", "FILE");
    if (options.has("to") == options.has("into"))
        throw UsageError("give either --to FILE or --into DIR");
    if (options.has("keep-days") && !options.has("into"))
        throw UsageError("--keep-days goes with --into DIR");
    const std::string to = options.has("to") ? options.text("to")
                                             : datedBackup(from, options.text("into"),
                                                           options.number("keep-days", 14));
    const backoffice::JournalCheck check = backoffice::backupDatabase(from, to);
    if (check.brokenAt) {
        std::printf("copied %s to %s, but ", from.c_str(), to.c_str());
        reportJournal(check);
        return journalBroken;
    }
    std::printf("copied %s to %s; its journal holds: %lld entries checked\n", from.c_str(),
                to.c_str(), static_cast<long long>(check.checked));
    return 0;
}

int restore(const Options& options) {
    const std::string from = need(options, "from", "FILE");
    const std::string db = need(options, "db", "FILE");
    backoffice::restoreDatabase(from, db, backoffice::administratorName());
    std::printf("restored %s from %s\n", db.c_str(), from.c_str());
    return 0;
}

// What `status` shows, gathered once for both of its forms.
struct StatusFacts {
    std::optional<backoffice::ServerSnapshot> serving;
    std::vector<std::string> openReviews; // one line each
    std::vector<backoffice::ThrottledOperator> throttled;
    backoffice::JournalCheckpoint head;
    std::optional<backoffice::CertificateFacts> certificate;
    std::string certificateProblem;
};

StatusFacts statusFacts(const std::string& db) {
    if (!std::filesystem::exists(db))
        throw backoffice::AdminError("no database " + db);
    StatusFacts facts;
    facts.serving = servingSnapshot(db);
    backoffice::Database database(db, backoffice::Database::ReadOnly{});
    backoffice::Statement reviews = database.prepare(
        "SELECT process_id, function_id, operator_no, fund_account, status, created_at "
        "FROM review_process WHERE status IN ('0', '1') ORDER BY process_id");
    while (reviews.step())
        facts.openReviews.push_back(
            std::to_string(reviews.integer(0)) + "\tfunction " +
            std::to_string(reviews.integer(1)) + "\toperator " + reviews.text(2) + "\taccount " +
            std::to_string(reviews.integer(3)) + "\t" +
            (reviews.text(4) == "0" ? "waiting for a reviewer" : "approved, not resent") +
            "\tsince " + reviews.text(5) + " UTC");
    const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    facts.throttled =
        backoffice::throttledOperators(database, guessesPerHourOf(facts.serving), nowMs);
    if (backoffice::hasJournal(database))
        facts.head = backoffice::journalHead(database);
    if (facts.serving && !facts.serving->certificate.empty()) {
        try {
            facts.certificate = backoffice::readCertificateFacts(facts.serving->certificate);
        } catch (const std::exception& e) {
            facts.certificateProblem = e.what();
        }
    }
    return facts;
}

// The certificate expires within this: status warns.
constexpr std::time_t expiryWarning = 30 * 24 * 60 * 60;

void writeStatusText(const std::string& db, const StatusFacts& f) {
    std::printf("marlo-backoffice %s\n", version);
    std::printf("database: %s\n", db.c_str());
    if (!f.serving) {
        std::printf("server: not serving this database\n");
    } else {
        std::printf("server: pid %ld, serving on %s since %s\n", f.serving->pid,
                    f.serving->listen.c_str(), localTime(f.serving->started).c_str());
        std::printf("logged in: %zu\n", f.serving->sessions.size());
        for (const backoffice::LoggedInSession& s : f.serving->sessions)
            std::printf("  operator %s\tfrom %s\tsince %s\n", s.operatorNo.c_str(),
                        s.source.c_str(), localTime(s.since).c_str());
    }
    std::printf("open reviews: %zu\n", f.openReviews.size());
    for (const std::string& review : f.openReviews)
        std::printf("  %s\n", review.c_str());
    std::printf("throttled operators: %zu\n", f.throttled.size());
    for (const backoffice::ThrottledOperator& t : f.throttled)
        std::printf("  operator %s\t%lld guesses in the last hour\tlifts at %s\n",
                    t.operatorNo.c_str(), static_cast<long long>(t.guesses),
                    localTime(static_cast<std::time_t>(t.liftsAtMs / 1000)).c_str());
    if (f.certificate) {
        std::printf("certificate: %s\n  fingerprint %s\n  expires %s\n",
                    f.serving->certificate.c_str(), f.certificate->fingerprint.c_str(),
                    localTime(f.certificate->notAfter).c_str());
        const std::time_t left = f.certificate->notAfter - std::time(nullptr);
        if (left < expiryWarning)
            std::printf("warning: the certificate %s; make a new pair with marlo-backoffice "
                        "cert and systemctl reload marlo-backoffice\n",
                        left <= 0
                            ? "has expired"
                            : ("expires in " + std::to_string(left / 86400) + " days").c_str());
    } else if (!f.certificateProblem.empty()) {
        std::printf("certificate: %s\n", f.certificateProblem.c_str());
    }
    std::printf("journal head: %s\n", f.head.entryNo == 0
                                          ? "(no entries)"
                                          : backoffice::formatJournalCheckpoint(f.head).c_str());
}

// Prometheus' text exposition format, for node_exporter's textfile collector.
void writeStatusMetrics(const StatusFacts& f) {
    const auto gauge = [](const char* name, const char* help, const std::string& value) {
        std::printf("# HELP marlo_backoffice_%s %s\n# TYPE marlo_backoffice_%s gauge\n"
                    "marlo_backoffice_%s %s\n",
                    name, help, name, name, value.c_str());
    };
    std::printf("# HELP marlo_backoffice_info The version, one series of value 1.\n"
                "# TYPE marlo_backoffice_info gauge\nmarlo_backoffice_info{version=\"%s\"} 1\n",
                version);
    gauge("up", "Whether a server is serving the database.", f.serving ? "1" : "0");
    gauge("sessions", "Connections an operator is logged in on.",
          std::to_string(f.serving ? f.serving->sessions.size() : 0));
    gauge("open_reviews", "Review processes waiting for a reviewer or for their resend.",
          std::to_string(f.openReviews.size()));
    gauge("throttled_operators", "Operators whose guesses of the last hour are used up.",
          std::to_string(f.throttled.size()));
    gauge("journal_entries", "The number of the journal's last entry.",
          std::to_string(f.head.entryNo));
    if (f.certificate)
        gauge("certificate_expiry_timestamp_seconds", "When the server's certificate expires.",
              std::to_string(f.certificate->notAfter));
    if (!f.serving)
        return;
    gauge("start_time_seconds", "When the server started.", std::to_string(f.serving->started));
    const auto counter = [&](const char* name, const char* help, auto valueOf) {
        std::printf("# HELP marlo_backoffice_%s %s\n# TYPE marlo_backoffice_%s counter\n", name,
                    help, name);
        for (const auto& [functionNo, counts] : f.serving->functions)
            std::printf("marlo_backoffice_%s{function=\"%d\"} %llu\n", name, functionNo,
                        static_cast<unsigned long long>(valueOf(counts)));
    };
    counter("requests_total", "Requests answered, by function.",
            [](const backoffice::FunctionCounts& c) { return c.requests; });
    counter("refusals_total", "Requests answered with an error, by function.",
            [](const backoffice::FunctionCounts& c) { return c.refusals; });
}

int status(const Options& options) {
    const std::string db = need(options, "db", "FILE");
    const StatusFacts facts = statusFacts(db);
    if (options.has("prometheus"))
        writeStatusMetrics(facts);
    else
        writeStatusText(db, facts);
    std::fflush(stdout);
    return 0;
}

struct Command {
    const char* name;
    std::string usage;
    std::vector<OptionRule> options;
    std::size_t words; // operator numbers and the like after the command
    int (*run)(const Options&);
};

// Made from the options serve and its configuration file take, so it leaves none out.
std::string serveUsage() {
    std::string usage = "serve";
    std::size_t column = usage.size();
    for (const OptionRule& rule : backoffice::serveOptions()) {
        const std::string item = " [" + backoffice::optionSynopsis(rule) + "]";
        if (column + item.size() > 80) {
            usage += "\n         ";
            column = 9;
        }
        usage += item;
        column += item.size();
    }
    return usage;
}

const std::vector<Command>& commands() {
    static const std::vector<OptionRule> journalFilter = {
        {"db"},     {"since"},
        {"until"},  {"operator"},
        {"client"}, {"fund-account", Kind::Number, 0, std::numeric_limits<std::int64_t>::max()},
        {"format"}};
    static const std::vector<Command> all = {
        {"seed",
         "seed --db FILE [--clients N [--vip-percent P] | --empty]",
         {{"db"},
          {"clients", Kind::Number, 1, 1'000'000},
          {"vip-percent", Kind::Number, 0, 100},
          {"empty", Kind::Flag}},
         0,
         seed},
        {"serve",
         serveUsage(),
         {backoffice::serveOptions().begin(), backoffice::serveOptions().end()},
         0,
         serve},
        {"cert",
         "cert --cert FILE --key FILE [--host NAME,...] [--days N]",
         {{"cert"}, {"key"}, {"host"}, {"days", Kind::Number, 1, 36500}},
         0,
         cert},
        {"journal verify",
         "journal verify --db FILE [--expect N:HASH]",
         {{"db"}, {"expect"}},
         0,
         verifyJournal},
        {"journal checkpoint", "journal checkpoint --db FILE", {{"db"}}, 0, journalCheckpoint},
        {"journal",
         "journal --db FILE [--since DATE] [--until DATE] [--operator NO] [--client ID]\n"
         "          [--fund-account NO] [--format table|csv|json]",
         journalFilter, 0, showJournal},
        {"operator list", "operator list --db FILE", {{"db"}}, 0, operatorList},
        {"operator add",
         "operator add NO --db FILE --name NAME --branch N [--reviewer] [--kind 1|2]",
         {{"db"},
          {"name"},
          {"branch", Kind::Number, 0, 999999},
          {"reviewer", Kind::Flag},
          {"kind"}},
         1,
         operatorAdd},
        {"operator set",
         "operator set NO --db FILE [--name NAME] [--branch N] [--reviewer yes|no] [--kind 1|2]",
         {{"db"},
          {"name"},
          {"branch", Kind::Number, 0, 999999},
          {"reviewer", Kind::YesNo},
          {"kind"}},
         1,
         operatorSet},
        {"operator disable", "operator disable NO --db FILE", {{"db"}}, 1, operatorDisable},
        {"operator enable", "operator enable NO --db FILE", {{"db"}}, 1, operatorEnable},
        {"operator passwd", "operator passwd NO --db FILE", {{"db"}}, 1, operatorPasswd},
        {"operator release", "operator release NO --db FILE", {{"db"}}, 1, operatorRelease},
        {"client import", "client import --db FILE --csv FILE", {{"db"}, {"csv"}}, 0, clientImport},
        {"client export",
         "client export --db FILE --csv",
         {{"db"}, {"csv", Kind::Flag}},
         0,
         clientExport},
        {"status",
         "status --db FILE [--prometheus]",
         {{"db"}, {"prometheus", Kind::Flag}},
         0,
         status},
        {"backup",
         "backup --db FILE (--to FILE | --into DIR [--keep-days N])",
         {{"db"}, {"to"}, {"into"}, {"keep-days", Kind::Number, 1, 36500}},
         0,
         backup},
        {"restore", "restore --from FILE --db FILE", {{"from"}, {"db"}}, 0, restore},
    };
    return all;
}

// One command's usage and what each of its options takes; serve's with its defaults.
int commandHelp(const Command& command) {
    std::printf("usage: marlo-backoffice %s\n\noptions:\n", command.usage.c_str());
    const bool serving = command.name == std::string("serve");
    const auto defaults = backoffice::serveOptionDefaults();
    for (const OptionRule& rule : command.options) {
        std::string line = "  " + backoffice::optionSynopsis(rule);
        line.resize(std::max<std::size_t>(line.size() + 1, 36), ' ');
        line += backoffice::optionValues(rule);
        if (const auto d = defaults.find(rule.name); serving && d != defaults.end())
            line += "; default " + d->second;
        std::printf("%s\n", line.c_str());
    }
    if (serving)
        std::printf("\nEvery option but --config may stand in the configuration file as "
                    "\"name = value\".\nSIGHUP reads the file again.\n");
    return 0;
}

int usage(FILE* to) {
    std::fprintf(to, "usage:\n");
    for (const Command& c : commands())
        std::fprintf(to, "  marlo-backoffice %s\n", c.usage.c_str());
    std::fprintf(to, "  marlo-backoffice COMMAND --help\n  marlo-backoffice --version\n");
    std::fprintf(to, "Clear TCP (no --cert) is served on a loopback address only. DATE is "
                     "YYYY-MM-DD [HH:MM[:SS]], local time.\n");
    return to == stdout ? 0 : badUsage;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage(stderr);
    if (args[0] == "help" || args[0] == "--help")
        return usage(stdout);
    if (args[0] == "--version") {
        std::printf("marlo-backoffice %s\n", version);
        return 0;
    }
    const Command* command = nullptr;
    std::size_t first = 1;
    for (const Command& c : commands()) {
        const std::string name = c.name;
        const std::size_t space = name.find(' ');
        if (space == std::string::npos ? args[0] == name
                                       : args.size() > 1 && args[0] == name.substr(0, space) &&
                                             args[1] == name.substr(space + 1)) {
            command = &c;
            first = space == std::string::npos ? 1 : 2;
            break;
        }
    }
    if (!command) {
        std::fprintf(stderr, "marlo-backoffice: unknown command '%s'\n", args[0].c_str());
        return usage(stderr);
    }
    if (std::find(args.begin() + static_cast<std::ptrdiff_t>(first), args.end(), "--help") !=
        args.end())
        return commandHelp(*command);
    const bool serving = std::strcmp(command->name, "serve") == 0;
    try {
        const Options options = backoffice::parseOptions(
            {args.begin() + static_cast<std::ptrdiff_t>(first), args.end()}, command->options);
        if (options.words.size() != command->words)
            throw UsageError(command->words == 0
                                 ? "unexpected argument '" + options.words.front() + "'"
                                 : std::string(command->name) + " needs one operator number");
        return command->run(options);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "marlo-backoffice %s: %s\nusage: marlo-backoffice %s\n", command->name,
                     e.what(), command->usage.c_str());
        return badUsage;
    } catch (const std::exception& e) {
        if (serving)
            backoffice::logLine(backoffice::LogPriority::Error,
                                std::string("marlo-backoffice: ") + e.what());
        else
            std::fprintf(stderr, "marlo-backoffice: %s\n", e.what());
        return failed;
    }
}
