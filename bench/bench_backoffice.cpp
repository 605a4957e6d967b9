// The back office, measured against baselines of the same run:
//  - 730004 at the end of 1,000,000 VIP rows against the first page;
//  - the embedded round trip (Send, the back-office thread, Receive) against calling the
//    handler directly with the same request;
//  - TCP requests per second with 4 concurrent counters (reported).
// The 1,000,000-client database is made once and kept in the build folder.

#include "ARCom.h"
#include "BackOffice.h"
#include "EmbeddedTransport.h"
#include "HostClasses.h"
#include "HostPtr.h"
#include "Seed.h"
#include "TcpServer.h"
#include "TcpTransport.h"

#include "protocol/Service.h"

#include "BenchReport.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string_view>
#include <thread>
#include <vector>

namespace backoffice {
extern const char trainingSql[];
}

namespace {

// The cached database is named after the seed data it was made from, so a change of the
// training operators or their passwords makes a new one.
const std::string databasePath =
    "bench-vip-1m-" +
    std::to_string(std::hash<std::string_view>{}(backoffice::trainingSql) % 100000) + ".db";
constexpr std::int64_t clients = 1'000'000;

std::string vipPage(const std::string& position) {
    protocol::PacketWriter w(730004, 0);
    const struct {
        const char* name;
        bool isText;
    } fields[] = {{"op_branch_no", false}, {"operator_no", true},   {"user_type", true},
                  {"op_password", true},   {"op_station", true},    {"op_entrust_way", true},
                  {"menu_id", false},      {"function_id", false},  {"branch_no", false},
                  {"en_branch_no", true},  {"fund_account", false}, {"position_str", true},
                  {"request_num", false}};
    for (const auto& f : fields)
        w.addField(f.name, f.isText ? protocol::FieldType::Text : protocol::FieldType::Integer);
    w.beginRecord();
    w.integer(8);
    w.text("1001");
    w.text("1");
    w.text("pass1001");
    w.text("bench");
    w.text("4");
    w.integer(730105);
    w.integer(730004);
    w.integer(0);
    w.text("");
    w.integer(0);
    w.text(position);
    w.integer(30);
    std::string out;
    w.finish(out);
    return out;
}

struct Fixture {
    Fixture() {
        if (!std::filesystem::exists(databasePath)) {
            std::fprintf(stderr, "seeding %lld clients into %s ...\n",
                         static_cast<long long>(clients), databasePath.c_str());
            std::filesystem::remove(databasePath + ".part");
            {
                backoffice::Database db(databasePath + ".part", true);
                backoffice::seedGenerated(db, clients, 100);
            }
            std::filesystem::rename(databasePath + ".part", databasePath);
        }
        service =
            std::shared_ptr<protocol::PacketService>(protocol::openBackOfficeService(databasePath));
        backoffice::Database db(databasePath);
        backoffice::Statement s = db.prepare("SELECT fund_account FROM vip_client "
                                             "ORDER BY fund_account DESC LIMIT 1 OFFSET 30");
        s.step();
        lastPagePosition = std::to_string(s.integer(0));
        counter::registerHostClasses();
    }
    std::shared_ptr<protocol::PacketService> service;
    std::string lastPagePosition;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

std::size_t rowsOf(const std::string& reply) {
    protocol::PacketView v;
    return v.decode(reply) == protocol::DecodeStatus::Ok ? v.recordCount() : 0;
}

void VipList_FirstPage(benchmark::State& state) {
    const std::string request = vipPage("0");
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().service->handle(request));
    state.counters["rows"] = static_cast<double>(rowsOf(fixture().service->handle(request)));
}

void VipList_LastPage(benchmark::State& state) {
    const std::string request = vipPage(fixture().lastPagePosition);
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().service->handle(request));
    state.counters["rows"] = static_cast<double>(rowsOf(fixture().service->handle(request)));
}

void Handler_Direct(benchmark::State& state) {
    const std::string request = vipPage("0");
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().service->handle(request));
}

void Handler_EmbeddedRoundTrip(benchmark::State& state) {
    auto com = HostPtr<IARCom>::adopt(
        new counter::ARCom(std::make_unique<counter::EmbeddedTransport>(fixture().service)));
    const Variant request = Variant::fromBytes(vipPage("0"));
    for (auto _ : state) {
        Variant id;
        Variant reply;
        com->Send(request, 1000, &id);
        com->Receive(id, 5000, &reply);
        benchmark::DoNotOptimize(reply);
    }
}

BENCHMARK(VipList_FirstPage);
BENCHMARK(VipList_LastPage);
BENCHMARK(Handler_Direct);
BENCHMARK(Handler_EmbeddedRoundTrip);

// Four counters over TCP, each sending the first-page request as fast as replies come.
double tcpRequestsPerSecond(int counters, int requestsEach) {
    backoffice::TcpServer server(*fixture().service, {});
    std::thread serving([&] { server.run(); });
    const Variant request = Variant::fromBytes(vipPage("0"));
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < counters; ++c) {
        threads.emplace_back([&] {
            auto com = HostPtr<IARCom>::adopt(new counter::ARCom(
                std::make_unique<counter::TcpTransport>("127.0.0.1", server.port())));
            for (int i = 0; i < requestsEach; ++i) {
                Variant id;
                Variant reply;
                com->Send(request, 1000, &id);
                com->Receive(id, 5000, &reply);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    server.stop();
    serving.join();
    return counters * requestsEach / seconds;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    InitializeWithRepetitions(argc, argv, args);
    fixture();
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& ns = reporter.nanoseconds;
    std::printf("\n730004 last page of %lld VIP rows / first page: %.0f / %.0f ns = %.2fx\n",
                static_cast<long long>(clients), ns["VipList_LastPage"], ns["VipList_FirstPage"],
                ns["VipList_LastPage"] / ns["VipList_FirstPage"]);
    std::printf("embedded round trip / direct handler call:    %.0f / %.0f ns = %.2fx\n",
                ns["Handler_EmbeddedRoundTrip"], ns["Handler_Direct"],
                ns["Handler_EmbeddedRoundTrip"] / ns["Handler_Direct"]);
    std::printf("TCP, 4 concurrent counters: %.0f requests/s (730004 first page)\n",
                tcpRequestsPerSecond(4, 2000));
    benchmark::Shutdown();
    return 0;
}
