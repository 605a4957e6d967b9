// marlo-backoffice: makes a back-office database, or serves one to counters over TCP.
//
//   marlo-backoffice seed --db FILE [--clients N] [--vip-percent P]
//   marlo-backoffice serve --db FILE --listen HOST:PORT [--stall-timeout-ms N]

#include "Seed.h"
#include "TcpServer.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

namespace {

backoffice::TcpServer* serving = nullptr;

void onSignal(int) {
    if (serving)
        serving->stop();
}

int usage() {
    std::fprintf(stderr, "usage: marlo-backoffice seed --db FILE [--clients N] [--vip-percent P]\n"
                         "       marlo-backoffice serve --db FILE --listen HOST:PORT "
                         "[--stall-timeout-ms N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    std::map<std::string, std::string> options;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strncmp(argv[i], "--", 2) != 0)
            return usage();
        options[argv[i] + 2] = argv[i + 1];
    }
    if ((argc - 2) % 2 != 0 || !options.contains("db"))
        return usage();
    const std::string db = options["db"];
    try {
        if (command == "seed") {
            if (std::filesystem::exists(db)) {
                std::fprintf(stderr, "marlo-backoffice: %s exists; not overwritten\n", db.c_str());
                return 1;
            }
            backoffice::Database database(db, true);
            if (options.contains("clients")) {
                const long long clients = std::stoll(options["clients"]);
                const int vip =
                    options.contains("vip-percent") ? std::stoi(options["vip-percent"]) : 50;
                backoffice::seedGenerated(database, clients, vip);
                std::printf("seeded %s with %lld clients\n", db.c_str(), clients);
            } else {
                backoffice::seedTraining(database);
                std::printf("seeded %s with the training data\n", db.c_str());
            }
            return 0;
        }
        if (command == "serve") {
            const std::string listen = options["listen"];
            const std::size_t colon = listen.rfind(':');
            if (colon == std::string::npos)
                return usage();
            backoffice::TcpServer::Options o;
            o.host = listen.substr(0, colon);
            o.port = static_cast<std::uint16_t>(std::stoi(listen.substr(colon + 1)));
            if (options.contains("stall-timeout-ms"))
                o.stallTimeout = std::chrono::milliseconds(std::stoi(options["stall-timeout-ms"]));
            if (!std::filesystem::exists(db)) {
                std::fprintf(stderr, "marlo-backoffice: no database %s (seed it first)\n",
                             db.c_str());
                return 1;
            }
            const auto service = protocol::openBackOfficeService(db);
            backoffice::TcpServer server(*service, o);
            serving = &server;
            std::signal(SIGINT, onSignal);
            std::signal(SIGTERM, onSignal);
            std::printf("serving %s on %s:%u\n", db.c_str(), o.host.c_str(), server.port());
            std::fflush(stdout);
            server.run();
            serving = nullptr;
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "marlo-backoffice: %s\n", e.what());
        return 1;
    }
    return usage();
}
