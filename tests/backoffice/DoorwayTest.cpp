// The front door over loopback: strangers from many addresses, whatever their pattern,
// never keep a new counter from logging in, and a counter's own address has room of its
// own; a refused re-login keeps its connection; one operator's writes are paced; and the
// files the back office writes are its owner's alone, whatever the umask.

#include "WireClient.h"

#include "JournalKey.h"
#include "ServedOfficeTest.h"
#include "StrangerPool.h"

#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace errors = backoffice::errors;
using namespace std::chrono_literals;

namespace {

std::string address(int subnet, int host) {
    return "127.0." + std::to_string(subnet) + "." + std::to_string(host);
}

// Strangers that never send a byte, from `addresses` loopback addresses of their own, on a
// thread, until the object goes.
class Strangers {
public:
    enum class Pattern {
        // Each closes its connection and opens it again every 4 s, inside any grace.
        Cycling,
        // Each opens its connection again as soon as the server closes it.
        Reconnecting,
    };

    Strangers(std::uint16_t port, int addresses, Pattern pattern)
        : thread_([this, port, addresses, pattern] { run(port, addresses, pattern); }) {}
    ~Strangers() {
        stop_ = true;
        thread_.join();
    }
    std::size_t connects() const { return connects_; }

private:
    void run(std::uint16_t port, int addresses, Pattern pattern) {
        std::vector<std::string> sources;
        for (int a = 0; a < addresses; ++a)
            sources.push_back(address(10 + a / 200, 1 + a % 200));
        std::vector<std::unique_ptr<WireClient>> held(sources.size());
        const auto open = [&](std::size_t i) {
            held[i].reset();
            held[i] = std::make_unique<WireClient>(port, 10ms, sources[i].c_str());
            ++connects_;
        };
        for (std::size_t i = 0; i < held.size(); ++i)
            open(i);
        const auto period = 4000ms / addresses;
        std::size_t next = 0;
        while (!stop_) {
            if (pattern == Pattern::Cycling) {
                // One address a turn, so every connection is younger than 4 s.
                std::this_thread::sleep_for(period);
                open(next);
                next = (next + 1) % held.size();
                continue;
            }
            std::vector<pollfd> fds;
            for (const auto& h : held)
                fds.push_back({h->fd(), POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].revents != 0)
                    open(i);
            }
            std::this_thread::sleep_for(2ms); // the machine stays usable for the test
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> connects_{0};
    std::thread thread_;
};

// How many of `tries` logins from `source` (a new address each try when null) succeed, one
// after the other.
int loginsFrom(std::uint16_t port, int tries, const char* source, int subnet = 200) {
    int loggedIn = 0;
    for (int i = 0; i < tries; ++i) {
        const std::string from = source ? std::string(source) : address(subnet, 1 + i);
        WireClient counter(port, 10s, from.c_str());
        auto login = counter.call(loginPacket("1001", "pass1001"));
        loggedIn += login && login->code() == 0;
    }
    return loggedIn;
}

} // namespace

class DoorwayTest : public ServedOfficeTest {
protected:
    // A counter's own address, where a login succeeded before the strangers came.
    static constexpr const char* roomCounter = "127.0.250.1";

    // Under the strangers: 20 new counters, each from an address never seen, and 10 logins
    // from the room's counter.
    void expectCountersGetIn(Strangers::Pattern pattern, int addresses) {
        ASSERT_EQ(loginsFrom(port(), 1, roomCounter), 1);
        Strangers strangers(port(), addresses, pattern);
        const auto start = std::chrono::steady_clock::now();
        while (server->connections() < static_cast<std::size_t>(addresses) &&
               std::chrono::steady_clock::now() - start < 10s)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(1s);
        EXPECT_GE(loginsFrom(port(), 20, nullptr), 19);
        EXPECT_EQ(loginsFrom(port(), 10, roomCounter), 10);
        EXPECT_GE(strangers.connects(), static_cast<std::size_t>(addresses));
    }
};

// 64 addresses each keep one silent connection, closed and opened again every 4 s.
TEST_F(DoorwayTest, CyclingSilentStrangersKeepNoCounterOut) {
    serve();
    expectCountersGetIn(Strangers::Pattern::Cycling, 64);
}

// 128 addresses, more than the strangers had slots before, open their connection again
// whenever it is closed.
TEST_F(DoorwayTest, StrangersFromMoreAddressesThanSlotsKeepNoCounterOut) {
    serve();
    expectCountersGetIn(Strangers::Pattern::Reconnecting, 128);
}

// A pool too small for the strangers: those past half of it are refused at random, the
// others when it is full, and the room's own counter still logs in every time, in room
// strangers from other addresses cannot take.
TEST_F(DoorwayTest, ACountersOwnAddressHasRoomStrangersCannotTake) {
    backoffice::TcpServer::Options options;
    options.maxStrangers = 48;
    options.knownRoom = 16;
    serve(options);
    ASSERT_EQ(options.maxStrangers, server->strangerRoom());
    ASSERT_EQ(loginsFrom(port(), 1, roomCounter), 1);
    Strangers strangers(port(), 64, Strangers::Pattern::Reconnecting);
    const auto start = std::chrono::steady_clock::now();
    while (server->refused() < 64 && std::chrono::steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(10ms);
    EXPECT_GE(server->refused(), 64u);
    EXPECT_LE(server->connections(), 32u);
    EXPECT_EQ(loginsFrom(port(), 10, roomCounter), 10);
}

// Each address holds a few strangers, and the pool is as large as the descriptors allow.
TEST_F(DoorwayTest, EachAddressHoldsAFewStrangers) {
    serve();
    EXPECT_GE(server->strangerRoom(), 512u);
    std::vector<std::unique_ptr<WireClient>> held;
    for (int i = 0; i < 6; ++i)
        held.push_back(std::make_unique<WireClient>(port(), 300ms, "127.0.9.1"));
    int closed = 0;
    for (auto& h : held)
        closed += h->closedByServer();
    EXPECT_EQ(closed, 2);
    EXPECT_EQ(loginsFrom(port(), 1, "127.0.9.2"), 1);
}

// The pool's rule, newcomer by newcomer: all are taken up to half of the strangers' share,
// some are refused at random past it, none once it is full; each address holds its few,
// and an address where a login succeeded has the room kept for it.
TEST(StrangerPoolRule, RefusesAtRandomAsItFillsAndKeepsRoomForKnownAddresses) {
    backoffice::StrangerPool::Bounds bounds;
    bounds.room = 100;
    bounds.perSource = 1;
    bounds.knownRoom = 20;
    bounds.perKnownSource = 16;
    backoffice::StrangerPool pool(bounds);
    const auto now = std::chrono::steady_clock::now();
    int taken = 0;
    int refused = 0;
    for (int i = 0; i < 2000 && pool.strangers() < 80; ++i) {
        const auto admission = pool.admit(address(1 + i / 200, 1 + i % 200), now);
        if (!admission.taken) {
            ++refused;
            EXPECT_GE(taken, 40) << "refused before half of the share";
        }
        taken += admission.taken;
    }
    EXPECT_EQ(taken, 80);
    EXPECT_GT(refused, 0);
    EXPECT_FALSE(pool.admit("10.0.0.1", now).taken); // the strangers' share is full
    EXPECT_FALSE(pool.admit(address(1, 1), now).taken);

    pool.loggedIn("10.9.9.9", now);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(pool.admit("10.9.9.9", now).taken) << i;
    EXPECT_FALSE(pool.admit("10.9.9.9", now).taken);
    // A login long ago no longer counts.
    pool.loggedIn("10.9.9.8", now - bounds.knownFor);
    EXPECT_FALSE(pool.admit("10.9.9.8", now).taken);
    // A stranger that goes gives its place back.
    pool.release(address(1, 1), {true, false});
    EXPECT_EQ(pool.strangers(), 95u);
}

// A re-login refused for a wrong password ends the session, not the connection: past the
// login deadline of a new connection, it still answers a second login.
TEST_F(DoorwayTest, ARefusedReLoginKeepsItsConnection) {
    backoffice::TcpServer::Options options;
    options.loginTimeout = 400ms;
    serve(options);
    WireClient counter(port(), 10s);
    ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
    std::this_thread::sleep_for(600ms);
    auto refused = counter.call(loginPacket("1001", "wrong"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), errors::wrongPassword);
    EXPECT_EQ(counter.call(configRequest())->code(), errors::notLoggedIn);
    std::this_thread::sleep_for(600ms); // sweeps pass
    auto again = counter.call(loginPacket("1001", "pass1001"));
    ASSERT_TRUE(again) << "the connection was closed";
    EXPECT_EQ(again->code(), 0);
    EXPECT_EQ(counter.call(configRequest())->code(), 0);
}

// One operator's review demands, as fast as he can for 10 s: past a burst they are paced,
// and the database grows by at most 256 KiB. An expired review keeps none of its fields.
TEST_F(DoorwayTest, OneOperatorsDemandsArePaced) {
    serve();
    WireClient counter(port(), 10s);
    ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
    Fields close = header(730002);
    close.insert(close.end(),
                 {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000003}}});
    const std::string demand = buildPacket(730002, close);
    const auto size = [&] {
        office->database().exec("PRAGMA wal_checkpoint(TRUNCATE)");
        return count("SELECT page_count * page_size FROM pragma_page_count, pragma_page_size");
    };
    const std::int64_t before = size();
    int made = 0;
    int paced = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 10s) {
        auto reply = counter.call(demand);
        ASSERT_TRUE(reply);
        if (reply->code() == errors::reviewRequired) {
            ++made;
        } else {
            ASSERT_EQ(reply->code(), errors::busy);
            EXPECT_EQ(reply->info(), "操作过于频繁，请稍后再试");
            ++paced;
        }
    }
    EXPECT_GT(paced, 0);
    EXPECT_LE(made, 30);
    const std::int64_t grown = size() - before;
    RecordProperty("grownBytes", std::to_string(grown));
    EXPECT_LE(grown, 256 * 1024);
    EXPECT_EQ(count("SELECT count(*) FROM review_process WHERE status = '5' AND "
                    "request_fields <> ''"),
              0);
    EXPECT_GT(count("SELECT count(*) FROM review_process WHERE status = '5'"), 0);
    // Another operator is not paced by him.
    WireClient other(port(), 10s);
    ASSERT_EQ(other.call(loginPacket("1002", "pass1002"))->code(), 0);
    Fields his = header(730002, "1002");
    his.insert(his.end(),
               {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000003}}});
    EXPECT_NE(other.call(buildPacket(730002, his))->code(), errors::busy);
}

namespace {

std::filesystem::perms modeOf(const std::string& path) {
    return std::filesystem::status(path).permissions() & std::filesystem::perms::all;
}

constexpr auto ownerOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

} // namespace

// Run by hand under umask 022, `seed` and `backup` leave no file that others may read: the
// database, its write-ahead log and shared memory, its journal key, and the backup's.
TEST_F(DoorwayTest, FilesAreTheOwnersAloneWhateverTheUmask) {
    const std::string db = dir.filePath("room.db");
    const std::string copy = dir.filePath("room-copy.db");
    const std::string run = "umask 022 && " + std::string(BACKOFFICE_EXE) + " seed --db " + db +
                            " > /dev/null && " + BACKOFFICE_EXE + " backup --db " + db + " --to " +
                            copy + " > /dev/null";
    ASSERT_EQ(std::system(("sh -c '" + run + "'").c_str()), 0);
    for (const std::string& file :
         {db, backoffice::journalKeyPath(db), copy, backoffice::journalKeyPath(copy)}) {
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_EQ(modeOf(file), ownerOnly) << file;
    }
    // A database another umask left readable is made private when it is opened for writing,
    // and so are the log and shared memory beside it.
    ::chmod(db.c_str(), 0644);
    {
        const mode_t old = ::umask(022);
        backoffice::Database opened(db);
        opened.exec("CREATE TABLE touched(x)");
        ::umask(old);
        for (const std::string& file : {db, db + "-wal", db + "-shm"}) {
            ASSERT_TRUE(std::filesystem::exists(file)) << file;
            EXPECT_EQ(modeOf(file), ownerOnly) << file;
        }
    }
}
