// marlo-backoffice: makes a back-office database, serves one to counters over TCP or TLS,
// or makes a self-signed certificate for a training room.
//
//   marlo-backoffice seed --db FILE [--clients N] [--vip-percent P]
//   marlo-backoffice serve --db FILE --listen HOST:PORT [--cert FILE --key FILE]
//                          [--frame-timeout-ms N] [--idle-timeout-s N] [--max-connections N]
//                          [--workers N] [--review-age-s N] [--login-timeout-ms N]
//                          [--max-strangers N] [--max-strangers-per-source N]
//                          [--guesses-per-hour N] [--max-hashes N]
//   marlo-backoffice cert --cert FILE --key FILE [--host NAME,...] [--days N]

#include "BackOffice.h"
#include "Certificate.h"
#include "OfficeService.h"
#include "Seed.h"
#include "TcpServer.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
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
                 "       marlo-backoffice cert --cert FILE --key FILE [--host NAME,...] "
                 "[--days N]\n"
                 "Clear TCP (no --cert) is served on a loopback address only.\n");
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (argc - 2) % 2 != 0)
        return usage();
    const std::string command = argv[1];
    std::map<std::string, std::string> options;
    for (int i = 2; i + 1 < argc; i += 2) {
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
    } catch (const std::exception& e) {
        std::fprintf(stderr, "marlo-backoffice: %s\n", e.what());
        return 1;
    }
    return usage();
}
