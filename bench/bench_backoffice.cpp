// The back office, measured against baselines of the same run:
//  - 730004 at the end of 1,000,000 VIP rows against the first page;
//  - the embedded round trip (Send, the back-office thread, Receive) against calling the
//    handler directly with the same request;
//  - a write (730003, the rate of a VIP client) with its journal entry against the same
//    write without the journal, with commits that wait for the disk as served and without;
// The network figures (TCP and TLS, hostile clients) are bench_server's.
// The 1,000,000-client database is made once and kept in the build folder.

#include "ARCom.h"
#include "BackOffice.h"
#include "EmbeddedTransport.h"
#include "HostClasses.h"
#include "HostPtr.h"
#include "Seed.h"

#include "protocol/Service.h"

#include "BenchReport.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string_view>
#include <vector>

#include <unistd.h>

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

// The counter's login of operator 1001, which opens the session the requests run in.
std::string loginRequest() {
    protocol::PacketWriter w(100001, 0);
    for (const char* name :
         {"op_branch_no", "operator_no", "op_station", "op_entrust_way", "function_id", "password"})
        w.addField(name, std::string_view(name) == "op_branch_no" ||
                                 std::string_view(name) == "function_id"
                             ? protocol::FieldType::Integer
                             : protocol::FieldType::Text);
    w.beginRecord();
    w.integer(0);
    w.text("1001");
    w.text("bench");
    w.text("4");
    w.integer(100001);
    w.text("pass1001");
    std::string out;
    w.finish(out);
    return out;
}

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
        session = service->openSession();
        session->handle(loginRequest());
        backoffice::Database db(databasePath);
        backoffice::Statement s = db.prepare("SELECT fund_account FROM vip_client "
                                             "ORDER BY fund_account DESC LIMIT 1 OFFSET 30");
        s.step();
        lastPagePosition = std::to_string(s.integer(0));
        counter::registerHostClasses();
    }
    std::shared_ptr<protocol::PacketService> service;
    std::unique_ptr<protocol::PacketSession> session;
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
        benchmark::DoNotOptimize(fixture().session->handle(request));
    state.counters["rows"] = static_cast<double>(rowsOf(fixture().session->handle(request)));
}

void VipList_LastPage(benchmark::State& state) {
    const std::string request = vipPage(fixture().lastPagePosition);
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().session->handle(request));
    state.counters["rows"] = static_cast<double>(rowsOf(fixture().session->handle(request)));
}

void Handler_Direct(benchmark::State& state) {
    const std::string request = vipPage("0");
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().session->handle(request));
}

void Handler_EmbeddedRoundTrip(benchmark::State& state) {
    auto com = HostPtr<IARCom>::adopt(
        new counter::ARCom(std::make_unique<counter::EmbeddedTransport>(fixture().service)));
    {
        Variant id;
        Variant reply;
        com->Send(Variant::fromBytes(loginRequest()), 1000, &id);
        com->Receive(id, 5000, &reply);
    }
    const Variant request = Variant::fromBytes(vipPage("0"));
    for (auto _ : state) {
        Variant id;
        Variant reply;
        com->Send(request, 1000, &id);
        com->Receive(id, 5000, &reply);
        benchmark::DoNotOptimize(reply);
    }
}

// A training database of its own for each configuration, in a folder that goes with it.
class WriteOffice {
public:
    WriteOffice(bool journal, bool fullSync)
        : path_(std::filesystem::temp_directory_path() /
                ("bench-journal-" + std::to_string(::getpid()) + (journal ? "-on" : "-off") +
                 (fullSync ? "-full" : "-normal") + ".db")) {
        removeFiles();
        {
            backoffice::Database db(path_.string(), true);
            backoffice::seedTraining(db);
        }
        backoffice::OfficeOptions options;
        options.journal = journal;
        options.fullSync = fullSync;
        options.writePace = {1e12, 1e12}; // what a write costs, not how fast one operator may
        office_ = std::make_unique<backoffice::BackOffice>(path_.string(), options);
        office_->handle(session_, loginRequest());
        for (const char* rate : {"0.85", "0.90"})
            requests_.push_back(modifyRequest(rate));
    }
    ~WriteOffice() {
        office_.reset();
        removeFiles();
    }
    // One write; the rate alternates so that every write changes the row.
    bool write() {
        protocol::PacketView reply;
        const std::string bytes = office_->handle(session_, requests_[next_++ % 2]);
        return reply.decode(bytes) == protocol::DecodeStatus::Ok && reply.returnCode() == 0;
    }

private:
    static std::string modifyRequest(const char* rate) {
        protocol::PacketWriter w(730003, 0);
        const struct {
            const char* name;
            bool isText;
        } fields[] = {{"op_branch_no", false}, {"operator_no", true},    {"user_type", true},
                      {"op_station", true},    {"op_entrust_way", true}, {"menu_id", false},
                      {"function_id", false},  {"branch_no", false},     {"fund_account", false},
                      {"discount_rate", true}};
        for (const auto& f : fields)
            w.addField(f.name, f.isText ? protocol::FieldType::Text : protocol::FieldType::Integer);
        w.beginRecord();
        w.integer(8);
        w.text("1001");
        w.text("1");
        w.text("bench");
        w.text("4");
        w.integer(730104);
        w.integer(730003);
        w.integer(8);
        w.integer(80000003);
        w.text(rate);
        std::string out;
        w.finish(out);
        return out;
    }
    void removeFiles() {
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(path_.string() + suffix);
    }

    std::filesystem::path path_;
    std::unique_ptr<backoffice::BackOffice> office_;
    backoffice::Session session_;
    std::vector<std::string> requests_;
    std::size_t next_ = 0;
};

void writeBenchmark(benchmark::State& state, bool journal, bool fullSync) {
    WriteOffice office(journal, fullSync);
    for (auto _ : state) {
        if (!office.write()) {
            state.SkipWithError("the write was refused");
            break;
        }
    }
}

void Write_Journal(benchmark::State& state) {
    writeBenchmark(state, true, true);
}
void Write_NoJournal(benchmark::State& state) {
    writeBenchmark(state, false, true);
}
void Write_Journal_NoSync(benchmark::State& state) {
    writeBenchmark(state, true, false);
}
void Write_NoJournal_NoSync(benchmark::State& state) {
    writeBenchmark(state, false, false);
}

BENCHMARK(VipList_FirstPage);
BENCHMARK(VipList_LastPage);
BENCHMARK(Handler_Direct);
BENCHMARK(Handler_EmbeddedRoundTrip);
BENCHMARK(Write_Journal);
BENCHMARK(Write_NoJournal);
BENCHMARK(Write_Journal_NoSync);
BENCHMARK(Write_NoJournal_NoSync);

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
    auto& cpu = reporter.cpuNanoseconds;
    for (const auto& [name, sync] :
         {std::pair<const char*, const char*>{"", "FULL, as served"}, {"_NoSync", "NORMAL"}}) {
        const std::string with = std::string("Write_Journal") + name;
        const std::string without = std::string("Write_NoJournal") + name;
        std::printf("730003 write with journal / without (synchronous=%s): real %.0f / %.0f ns = "
                    "%.2fx, CPU %.0f / %.0f ns = %.2fx\n",
                    sync, ns[with], ns[without], ns[with] / ns[without], cpu[with], cpu[without],
                    cpu[with] / cpu[without]);
    }
    benchmark::Shutdown();
    return 0;
}
