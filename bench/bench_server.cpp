// The back-office server on loopback, measured against baselines of the same run:
//  - requests per second and p99 latency with 1, 4 and 32 counters, TLS against clear TCP;
//  - the same with 4 counters while 8 hostile clients run, against none;
//  - the cost of synchronous=FULL per write against NORMAL.
// Figures only: nothing here passes or fails.

#include "ARCom.h"
#include "BackOffice.h"
#include "Certificate.h"
#include "HostClasses.h"
#include "HostPtr.h"
#include "OfficeService.h"
#include "Seed.h"
#include "TcpServer.h"
#include "TcpTransport.h"

#include "protocol/Frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <tuple>
#include <variant>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto runFor = 2s;

struct Field {
    const char* name;
    std::variant<std::int64_t, std::string> value;
};

std::string packet(std::int32_t functionNo, const std::vector<Field>& fields) {
    protocol::PacketWriter w(functionNo, 0);
    for (const Field& f : fields)
        w.addField(f.name, std::holds_alternative<std::int64_t>(f.value)
                               ? protocol::FieldType::Integer
                               : protocol::FieldType::Text);
    w.beginRecord();
    for (const Field& f : fields) {
        if (const auto* i = std::get_if<std::int64_t>(&f.value))
            w.integer(*i);
        else
            w.text(std::get<std::string>(f.value));
    }
    std::string out;
    w.finish(out);
    return out;
}

std::string login(const std::string& operatorNo, const std::string& password) {
    return packet(100001, {{"op_branch_no", std::int64_t{0}},
                           {"operator_no", operatorNo},
                           {"op_station", std::string("bench")},
                           {"op_entrust_way", std::string("4")},
                           {"function_id", std::int64_t{100001}},
                           {"password", password}});
}

std::vector<Field> header(std::int32_t functionNo) {
    return {{"op_branch_no", std::int64_t{8}},        {"operator_no", std::string("1001")},
            {"user_type", std::string("1")},          {"op_station", std::string("bench")},
            {"op_entrust_way", std::string("4")},     {"menu_id", std::int64_t{730105}},
            {"function_id", std::int64_t{functionNo}}};
}

std::string vipFirstPage() {
    auto fields = header(730004);
    fields.push_back({"branch_no", std::int64_t{0}});
    fields.push_back({"en_branch_no", std::string("")});
    fields.push_back({"fund_account", std::int64_t{0}});
    fields.push_back({"position_str", std::string("0")});
    fields.push_back({"request_num", std::int64_t{30}});
    return packet(730004, fields);
}

std::string syncRequest() {
    auto fields = header(730000);
    fields.push_back({"branch_no", std::int64_t{8}});
    fields.push_back({"fund_account", std::int64_t{80000001}});
    fields.push_back({"sync_type", std::int64_t{0}});
    return packet(730000, fields);
}

Variant exchange(HostPtr<IARCom>& com, const Variant& request) {
    Variant id;
    Variant reply;
    com->Send(request, 1000, &id);
    com->Receive(id, 10000, &reply);
    return reply;
}

struct Figures {
    double perSecond = 0;
    double p99ms = 0;
};

// `counters` counters, each logged in and asking as fast as its replies come.
Figures measure(const counter::BackOfficeAddress& address, int counters) {
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(counters));
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    Clock::time_point end;
    std::vector<std::thread> threads;
    for (int c = 0; c < counters; ++c) {
        threads.emplace_back([&, c] {
            auto com = HostPtr<IARCom>::adopt(
                new counter::ARCom(std::make_unique<counter::TcpTransport>(address)));
            exchange(com, Variant::fromBytes(login("1001", "pass1001")));
            const Variant request = Variant::fromBytes(vipFirstPage());
            ++ready;
            while (!go)
                std::this_thread::yield();
            auto& mine = latencies[static_cast<std::size_t>(c)];
            while (Clock::now() < end) {
                const auto start = Clock::now();
                exchange(com, request);
                mine.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
        });
    }
    while (ready < counters)
        std::this_thread::sleep_for(1ms);
    end = Clock::now() + runFor;
    go = true;
    for (std::thread& t : threads)
        t.join();
    std::vector<double> all;
    for (const auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    Figures f;
    f.perSecond = static_cast<double>(all.size()) / std::chrono::duration<double>(runFor).count();
    f.p99ms = all.empty() ? 0 : all[all.size() * 99 / 100];
    return f;
}

int rawConnection(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    timeval tv{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

// Eight clients that try to stall the server until stopped: two pipeline wrong logins,
// two send requests and never read, two send a byte at a time, two hold idle connections.
class Hostiles {
public:
    explicit Hostiles(std::uint16_t port) {
        for (int i = 0; i < 2; ++i) {
            threads_.emplace_back([this, port] { guess(port); });
            threads_.emplace_back([this, port] { hog(port); });
            threads_.emplace_back([this, port] { trickle(port); });
            threads_.emplace_back([this, port] { crowd(port); });
        }
    }
    ~Hostiles() {
        stop_ = true;
        for (std::thread& t : threads_)
            t.join();
    }

private:
    void guess(std::uint16_t port) {
        std::string burst;
        for (int i = 0; i < 300; ++i)
            burst += protocol::encodeFrame(i, login("1004", "guess" + std::to_string(i)));
        char sink[65536];
        while (!stop_) {
            const int fd = rawConnection(port);
            ::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL);
            for (int i = 0; i < 20 && !stop_; ++i)
                ::recv(fd, sink, sizeof sink, 0);
            ::close(fd);
        }
    }
    void hog(std::uint16_t port) {
        const std::string hello = protocol::encodeFrame(1, login("1001", "pass1001"));
        const std::string ask = protocol::encodeFrame(2, vipFirstPage());
        while (!stop_) {
            const int fd = rawConnection(port);
            ::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);
            while (!stop_ && ::send(fd, ask.data(), ask.size(), MSG_NOSIGNAL) > 0) {
            }
            ::close(fd);
        }
    }
    void trickle(std::uint16_t port) {
        const std::string frame = protocol::encodeFrame(1, vipFirstPage());
        while (!stop_) {
            const int fd = rawConnection(port);
            for (std::size_t i = 0; i < frame.size() && !stop_; ++i) {
                if (::send(fd, frame.data() + i, 1, MSG_NOSIGNAL) <= 0)
                    break;
                std::this_thread::sleep_for(100ms);
            }
            ::close(fd);
        }
    }
    void crowd(std::uint16_t port) {
        std::vector<int> open;
        while (!stop_) {
            if (open.size() < 40)
                open.push_back(rawConnection(port));
            std::this_thread::sleep_for(20ms);
        }
        for (int fd : open)
            ::close(fd);
    }

    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Mean microseconds per write of a sync request, with commits that wait for the disk or not.
double microsecondsPerWrite(const std::filesystem::path& dir, bool fullSync) {
    const std::string path = (dir / (fullSync ? "full.db" : "normal.db")).string();
    {
        backoffice::Database db(path, true);
        backoffice::seedTraining(db);
    }
    backoffice::OfficeOptions options;
    options.fullSync = fullSync;
    backoffice::BackOffice office(path, options);
    backoffice::Session session;
    office.handle(session, login("1001", "pass1001"));
    const std::string request = syncRequest();
    constexpr int writes = 300;
    const auto start = Clock::now();
    for (int i = 0; i < writes; ++i)
        office.handle(session, request);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / writes;
}

} // namespace

int main() {
    counter::registerHostClasses();
    // On the disk of the build folder, not a memory file system: the sync figure needs it.
    const std::filesystem::path dir =
        std::filesystem::current_path() / ("bench-server-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string dbPath = (dir / "office.db").string();
    {
        backoffice::Database db(dbPath, true);
        backoffice::seedTraining(db);
    }
    const std::string cert = (dir / "server.pem").string();
    const std::string key = (dir / "server.key").string();
    backoffice::makeSelfSignedCertificate(cert, key, {});
    auto service = backoffice::serviceOf(std::make_shared<backoffice::BackOffice>(dbPath));

    backoffice::TcpServer plain(*service, {});
    backoffice::TcpServer::Options tlsOptions;
    tlsOptions.certificateFile = cert;
    tlsOptions.keyFile = key;
    backoffice::TcpServer secure(*service, tlsOptions);
    std::thread plainThread([&] { plain.run(); });
    std::thread secureThread([&] { secure.run(); });
    const counter::BackOfficeAddress plainAddress{"127.0.0.1", plain.port(), false, {}};
    const counter::BackOfficeAddress tlsAddress{"127.0.0.1", secure.port(), true, cert};

    std::printf("730004 first page, %lld s per run, %u cores\n",
                static_cast<long long>(runFor.count()), std::thread::hardware_concurrency());
    std::printf("%-10s %14s %10s %14s %10s %12s\n", "counters", "TCP req/s", "p99 ms", "TLS req/s",
                "p99 ms", "TLS/TCP");
    for (int counters : {1, 4, 32}) {
        const Figures clear = measure(plainAddress, counters);
        const Figures tls = measure(tlsAddress, counters);
        std::printf("%-10d %14.0f %10.2f %14.0f %10.2f %11.2fx\n", counters, clear.perSecond,
                    clear.p99ms, tls.perSecond, tls.p99ms, tls.perSecond / clear.perSecond);
    }
    for (auto [name, address, port] : {std::tuple{"TCP", plainAddress, plain.port()},
                                       std::tuple{"TLS", tlsAddress, secure.port()}}) {
        const Figures calm = measure(address, 4);
        Figures attacked;
        {
            Hostiles hostiles(port);
            std::this_thread::sleep_for(300ms);
            attacked = measure(address, 4);
        }
        std::printf("%s, 4 counters, 8 hostile clients: %.0f req/s p99 %.2f ms; alone: %.0f "
                    "req/s p99 %.2f ms (%.2fx the throughput)\n",
                    name, attacked.perSecond, attacked.p99ms, calm.perSecond, calm.p99ms,
                    attacked.perSecond / calm.perSecond);
    }
    std::printf("server memory held at most: TCP %zu bytes, TLS %zu bytes in connection buffers\n",
                plain.peakHeldBytes(), secure.peakHeldBytes());
    plain.stop();
    secure.stop();
    plainThread.join();
    secureThread.join();

    const double full = microsecondsPerWrite(dir, true);
    const double normal = microsecondsPerWrite(dir, false);
    std::printf("synchronous=FULL / NORMAL per write (730000): %.0f / %.0f us = %.2fx\n", full,
                normal, full / normal);
    std::filesystem::remove_all(dir);
    return 0;
}
