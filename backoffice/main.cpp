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
#include "TcpServer.h"

#include <pthread.h>
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using backoffice::OptionRule;
using backoffice::Options;
using backoffice::UsageError;
using Kind = OptionRule::Kind;

// Exit statuses: 0 done, 1 failed or refused, 2 bad command line, 3 a journal that breaks.
constexpr int failed = 1;
constexpr int badUsage = 2;
constexpr int journalBroken = 3;

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

// SIGTERM and SIGINT finish the server: a thread of its own waits for them, so every other
// thread has them blocked from the start.
class StopOnSignal {
public:
    static sigset_t signals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        return set;
    }
    explicit StopOnSignal(backoffice::TcpServer& server)
        : thread_([this, &server] {
              const sigset_t set = signals();
              int signal = 0;
              if (sigwait(&set, &signal) != 0 || leaving_)
                  return;
              backoffice::logLine(backoffice::LogPriority::Notice,
                                  std::string("stopping on ") + ::strsignal(signal) +
                                      ": answering the requests in hand");
              sd_notify(0, "STOPPING=1");
              server.finish();
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

int serve(const Options& commandLine) {
    const sigset_t signals = StopOnSignal::signals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    Options options = commandLine;
    if (commandLine.has("config"))
        options.fillFrom(
            backoffice::readConfigFile(commandLine.text("config"), backoffice::serveOptions()));
    const backoffice::ServeSettings settings = backoffice::serveSettings(options);
    backoffice::prepareFirstStart(settings, [](const std::string& line) {
        backoffice::logLine(backoffice::LogPriority::Notice, line);
    });
    const backoffice::DatabaseLock lock(settings.db, backoffice::DatabaseLock::Mode::Shared);
    if (!lock.acquired()) {
        backoffice::logLine(backoffice::LogPriority::Error,
                            settings.db + " is being restored; start the server once it is done");
        return failed;
    }
    const auto service = backoffice::serviceOf(
        std::make_shared<backoffice::BackOffice>(settings.db, settings.office));
    backoffice::TcpServer server(*service, settings.server);
    const std::string where = std::string(settings.server.certificateFile.empty() ? "tcp" : "tls") +
                              "://" + settings.server.host + ":" + std::to_string(server.port());
    std::printf("serving %s on %s\n", settings.db.c_str(), where.c_str());
    std::fflush(stdout);
    const StopOnSignal stopper(server);
    sd_notify(0, ("READY=1\nSTATUS=serving " + settings.db + " on " + where).c_str());
    const backoffice::JournalCheckpoints checkpoints(
        settings.db, settings.checkpointInterval,
        [](const std::string& line) { backoffice::logLine(backoffice::LogPriority::Info, line); });
    server.run(false);
    backoffice::logLine(backoffice::LogPriority::Notice, "stopped");
    return 0;
}

int cert(const Options& options) {
    const std::string certificate = need(options, "cert", "FILE");
    const std::string key = need(options, "key", "FILE");
    backoffice::makeSelfSignedCertificate(certificate, key, split(options.text("host")),
                                          static_cast<int>(options.number("days", 365)));
    std::printf("wrote %s and %s\n", certificate.c_str(), key.c_str());
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
    return reportJournal(backoffice::verifyJournal(*database, expect)) ? 0 : journalBroken;
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

int operatorList(const Options& options) {
    backoffice::listOperators(*adminDatabase(options), std::cout);
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

int backup(const Options& options) {
    const std::string from = need(options, "db", "FILE");
    const std::string to = need(options, "to", "FILE");
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

struct Command {
    const char* name;
    const char* usage;
    std::vector<OptionRule> options;
    std::size_t words; // operator numbers and the like after the command
    int (*run)(const Options&);
};

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
         "serve [--config FILE] --db FILE --listen HOST:PORT [--cert FILE --key FILE]\n"
         "          [--cert-hosts NAME,...] [--cert-days N] [--tls-generate yes|no]\n"
         "          [--empty-database yes|no] [--workers N] [--max-connections N]\n"
         "          [--frame-timeout-ms N] [--idle-timeout-s N] [--review-age-s N]\n"
         "          [--login-timeout-ms N] [--max-strangers N] [--max-strangers-per-source N]\n"
         "          [--guesses-per-hour N] [--max-hashes N] [--checkpoint-interval-s N]",
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
        {"backup", "backup --db FILE --to FILE", {{"db"}, {"to"}}, 0, backup},
        {"restore", "restore --from FILE --db FILE", {{"from"}, {"db"}}, 0, restore},
    };
    return all;
}

int usage(FILE* to) {
    std::fprintf(to, "usage:\n");
    for (const Command& c : commands())
        std::fprintf(to, "  marlo-backoffice %s\n", c.usage);
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
                     e.what(), command->usage);
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
