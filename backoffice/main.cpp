// marlo-backoffice: makes a back-office database, serves one to counters over TCP or TLS,
// or makes a self-signed certificate for a training room.
//
//   marlo-backoffice seed --db FILE [--clients N] [--vip-percent P]
//   marlo-backoffice serve --db FILE --listen HOST:PORT [--cert FILE --key FILE]
//                          [--frame-timeout-ms N] [--idle-timeout-s N] [--max-connections N]
//                          [--workers N] [--review-age-s N] [--login-timeout-ms N]
//                          [--max-strangers N] [--max-strangers-per-source N]
//                          [--guesses-per-hour N] [--max-hashes N]
//                          [--max-logins-per-operator N]
//   marlo-backoffice cert --cert FILE --key FILE [--host NAME,...] [--days N]
//   marlo-backoffice journal --db FILE [--since DATE] [--until DATE] [--operator NO]
//                            [--client ID] [--fund-account NO] [--format table|csv|json]
//   marlo-backoffice journal verify --db FILE

#include "BackOffice.h"
#include "Certificate.h"
#include "JournalReport.h"
#include "OfficeService.h"
#include "Seed.h"
#include "TcpServer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: marlo-backoffice seed --db FILE [--clients N] [--vip-percent P]\n"
                 "       marlo-backoffice serve --db FILE --listen HOST:PORT "
                 "[--cert FILE --key FILE]\n"
                 "                              [--frame-timeout-ms N] [--idle-timeout-s N] "
                 "[--max-connections N]\n"
                 "                              [--workers N] [--review-age-s N] "
                 "[--login-timeout-ms N]\n"
                 "                              [--max-strangers N] "
                 "[--max-strangers-per-source N]\n"
                 "                              [--guesses-per-hour N] [--max-hashes N]\n"
                 "                              [--max-logins-per-operator N]\n"
                 "       marlo-backoffice cert --cert FILE --key FILE [--host NAME,...] "
                 "[--days N]\n"
                 "       marlo-backoffice journal --db FILE [--since DATE] [--until DATE] "
                 "[--operator NO]\n"
                 "                                [--client ID] [--fund-account NO] "
                 "[--format table|csv|json]\n"
                 "       marlo-backoffice journal verify --db FILE\n"
                 "Clear TCP (no --cert) is served on a loopback address only. DATE is "
                 "YYYY-MM-DD [HH:MM[:SS]], local time.\n");
    return 2;
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

int seed(std::map<std::string, std::string>& options) {
    const std::string db = options["db"];
    if (std::filesystem::exists(db)) {
        std::fprintf(stderr, "marlo-backoffice: %s exists; not overwritten\n", db.c_str());
        return 1;
    }
    backoffice::Database database(db, true);
    if (options.contains("clients")) {
        const long long clients = std::stoll(options["clients"]);
        const int vip = options.contains("vip-percent") ? std::stoi(options["vip-percent"]) : 50;
        backoffice::seedGenerated(database, clients, vip);
        std::printf("seeded %s with %lld clients\n", db.c_str(), clients);
    } else {
        backoffice::seedTraining(database);
        std::printf("seeded %s with the training data\n", db.c_str());
    }
    return 0;
}

int serve(std::map<std::string, std::string>& options) {
    const std::string db = options["db"];
    const std::string listen = options["listen"];
    const std::size_t colon = listen.rfind(':');
    if (colon == std::string::npos)
        return usage();
    backoffice::TcpServer::Options o;
    o.host = listen.substr(0, colon);
    o.port = static_cast<std::uint16_t>(std::stoi(listen.substr(colon + 1)));
    o.certificateFile = options["cert"];
    o.keyFile = options["key"];
    if (options.contains("frame-timeout-ms"))
        o.frameTimeout = std::chrono::milliseconds(std::stoi(options["frame-timeout-ms"]));
    if (options.contains("idle-timeout-s"))
        o.idleTimeout = std::chrono::seconds(std::stoi(options["idle-timeout-s"]));
    if (options.contains("max-connections"))
        o.maxConnections = std::stoul(options["max-connections"]);
    if (options.contains("workers"))
        o.workers = std::stoul(options["workers"]);
    if (options.contains("login-timeout-ms"))
        o.loginTimeout = std::chrono::milliseconds(std::stoi(options["login-timeout-ms"]));
    if (options.contains("max-strangers"))
        o.maxStrangers = std::stoul(options["max-strangers"]);
    if (options.contains("max-strangers-per-source"))
        o.maxStrangersPerSource = std::stoul(options["max-strangers-per-source"]);
    if (options.contains("max-logins-per-operator"))
        o.maxLoginsPerOperator = std::stoul(options["max-logins-per-operator"]);
    backoffice::OfficeOptions officeOptions;
    if (options.contains("review-age-s"))
        officeOptions.reviewMaxAge = std::chrono::seconds(std::stoi(options["review-age-s"]));
    if (options.contains("guesses-per-hour"))
        officeOptions.throttle.guessesPerOperator = std::stoi(options["guesses-per-hour"]);
    if (options.contains("max-hashes"))
        officeOptions.maxHashes = std::stoul(options["max-hashes"]);
    if (!std::filesystem::exists(db)) {
        std::fprintf(stderr, "marlo-backoffice: no database %s (seed it first)\n", db.c_str());
        return 1;
    }
    const auto service =
        backoffice::serviceOf(std::make_shared<backoffice::BackOffice>(db, officeOptions));
    backoffice::TcpServer server(*service, o);
    std::printf("serving %s on %s://%s:%u\n", db.c_str(), o.certificateFile.empty() ? "tcp" : "tls",
                o.host.c_str(), server.port());
    std::fflush(stdout);
    server.run(true);
    return 0;
}

int cert(std::map<std::string, std::string>& options) {
    if (!options.contains("cert") || !options.contains("key"))
        return usage();
    const int days = options.contains("days") ? std::stoi(options["days"]) : 365;
    backoffice::makeSelfSignedCertificate(options["cert"], options["key"], split(options["host"]),
                                          days);
    std::printf("wrote %s and %s\n", options["cert"].c_str(), options["key"].c_str());
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

// Exit status 0: the chain holds; 3: it breaks; 1: it could not be read.
int verifyJournal(std::map<std::string, std::string>& options) {
    const auto database = openJournal(options["db"]);
    if (!database)
        return 1;
    const backoffice::JournalCheck check = backoffice::verifyJournal(*database);
    if (check.brokenAt) {
        std::printf("日志校验失败：哈希链在第%lld条记录处断开（%s）。%s。此前%lld条完好。\n",
                    static_cast<long long>(*check.brokenAt), check.how.c_str(),
                    check.explanation.c_str(), static_cast<long long>(check.checked));
        return 3;
    }
    std::printf("日志完好：已校验%lld条记录，哈希链完整。末条哈希 %s\n",
                static_cast<long long>(check.checked),
                check.headHash.empty() ? "（无）" : check.headHash.c_str());
    return 0;
}

int showJournal(std::map<std::string, std::string>& options) {
    for (const auto& [name, value] : options) {
        static const char* known[] = {"db",     "since",        "until", "operator",
                                      "client", "fund-account", "format"};
        if (std::find(std::begin(known), std::end(known), name) == std::end(known))
            return usage();
    }
    backoffice::JournalFilter filter;
    const auto time = [&](const char* name, bool endOfDay) -> bool {
        if (!options.contains(name))
            return true;
        const auto t = backoffice::parseJournalTime(options[name], endOfDay);
        if (!t) {
            std::fprintf(stderr, "marlo-backoffice: --%s %s：日期应为 YYYY-MM-DD [HH:MM[:SS]]\n",
                         name, options[name].c_str());
            return false;
        }
        (endOfDay ? filter.until : filter.since) = *t;
        return true;
    };
    if (!time("since", false) || !time("until", true))
        return 2;
    filter.operatorNo = options["operator"];
    filter.clientId = options["client"];
    if (options.contains("fund-account")) {
        const std::string& text = options["fund-account"];
        std::int64_t fundAccount = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), fundAccount);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
            std::fprintf(stderr, "marlo-backoffice: --fund-account %s：应为资金账户号码\n",
                         text.c_str());
            return 2;
        }
        filter.fundAccount = fundAccount;
    }
    const auto format =
        backoffice::parseJournalFormat(options.contains("format") ? options["format"] : "table");
    if (!format)
        return usage();
    const auto database = openJournal(options["db"]);
    if (!database)
        return 1;
    backoffice::writeJournal(std::cout, backoffice::readJournal(*database, filter), *format);
    std::cout.flush();
    return std::cout ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    std::string command = argv[1];
    int first = 2;
    if (command == "journal" && argc > 2 && std::strcmp(argv[2], "verify") == 0) {
        command = "journal verify";
        first = 3;
    }
    if ((argc - first) % 2 != 0)
        return usage();
    std::map<std::string, std::string> options;
    for (int i = first; i + 1 < argc; i += 2) {
        if (std::strncmp(argv[i], "--", 2) != 0)
            return usage();
        options[argv[i] + 2] = argv[i + 1];
    }
    try {
        if (command == "cert")
            return cert(options);
        if (!options.contains("db"))
            return usage();
        if (command == "seed")
            return seed(options);
        if (command == "serve")
            return serve(options);
        if (command == "journal")
            return showJournal(options);
        if (command == "journal verify")
            return verifyJournal(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "marlo-backoffice: %s\n", e.what());
        return 1;
    }
    return usage();
}
