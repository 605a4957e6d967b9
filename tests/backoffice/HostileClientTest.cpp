// The back-office server on loopback against clients that try to stall it, exhaust it or
// act without a login. Every attack is bounded in count and time; a well-behaved counter
// must keep being answered meanwhile, and nothing a refused request asked for may change.

#include "WireClient.h"

#include "ServedOfficeTest.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

namespace errors = backoffice::errors;
using namespace std::chrono_literals;

namespace {

std::string vipListRequest() {
    Fields fields = header(730004);
    fields.push_back({"branch_no", std::int64_t{0}});
    fields.push_back({"fund_account", std::int64_t{0}});
    fields.push_back({"position_str", std::string("0")});
    fields.push_back({"request_num", std::int64_t{1000}});
    return buildPacket(730004, fields);
}

// What a refused request could have changed.
std::string stateOf(backoffice::Database& db) {
    backoffice::Statement s = db.prepare(
        "SELECT (SELECT count(*) || ':' || total(discount_rate) FROM vip_client) || '/' || "
        "(SELECT count(*) FROM review_process) || '/' || (SELECT count(*) FROM sync_request) || "
        "'/' || (SELECT group_concat(en_entrust_way) FROM fund_account)");
    s.step();
    return s.text(0);
}

// A well-behaved counter logged in as 1001 that asks for the configuration again and
// again until told to stop. Every request must be answered, whatever the attack; how fast
// is the server benchmark's to measure.
class WellBehaved {
public:
    explicit WellBehaved(std::uint16_t port) : client_(port, 10s) {
        auto login = client_.call(loginPacket("1001", "pass1001"));
        EXPECT_TRUE(login && login->code() == 0);
        thread_ = std::thread([this] {
            while (!stop_) {
                auto reply = client_.call(configRequest());
                if (!reply || reply->code() != 0) {
                    ++failures_;
                    return;
                }
                ++answered_;
                std::this_thread::sleep_for(10ms);
            }
        });
    }
    ~WellBehaved() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    int answered() const { return answered_; }
    int failures() const { return failures_; }

private:
    WireClient client_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::atomic<int> failures_{0};
    std::thread thread_;
};

} // namespace

class HostileClientTest : public ServedOfficeTest {};

TEST_F(HostileClientTest, PipelinedWrongLoginsAndRequestsWithoutALoginChangeNothing) {
    backoffice::OfficeOptions o;
    o.throttle.firstDelay = 1ms; // each refusal holds the connection back that long
    // However long a busy machine takes over the burst, the guesser is not closed for
    // never logging in: the test is about what the guesses change.
    backoffice::TcpServer::Options options;
    options.loginTimeout = 10min;
    serve(options, o);
    const std::string before = stateOf(office->database());
    WellBehaved counter(port());

    // 339 wrong logins in one write, the way that once stalled every client for 20 s; then
    // business requests on connections that never logged in or logged in as someone else.
    std::string burst;
    for (int i = 0; i < 339; ++i)
        burst += protocol::encodeFrame(i, loginPacket("1004", "guess" + std::to_string(i)));
    WireClient guesser(port(), 60s, "127.0.0.2");
    ASSERT_TRUE(guesser.sendAll(burst));
    int refusedLogins = 0;
    for (int i = 0; i < 339; ++i) {
        auto reply = guesser.receive();
        ASSERT_TRUE(reply);
        refusedLogins +=
            reply->code() == errors::wrongPassword || reply->code() == errors::passwordThrottled;
    }
    EXPECT_EQ(refusedLogins, 339);

    WireClient stranger(port(), 10s, "127.0.0.3");
    Fields open = header(730001);
    open.insert(open.end(), {{"branch_no", std::int64_t{8}},
                             {"client_id", std::string("100001")},
                             {"fund_account", std::int64_t{80000001}},
                             {"discount_rate", std::string("0.01")},
                             {"audit_action", std::string("2")}});
    EXPECT_EQ(stranger.call(buildPacket(730001, open))->code(), errors::notLoggedIn);
    Fields close = header(730002);
    close.insert(close.end(),
                 {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000003}}});
    EXPECT_EQ(stranger.call(buildPacket(730002, close))->code(), errors::notLoggedIn);
    ASSERT_EQ(stranger.call(loginPacket("1002", "pass1002"))->code(), 0);
    EXPECT_EQ(stranger.call(buildPacket(730002, close))->code(), errors::notSessionOperator);

    counter.finish();
    EXPECT_EQ(counter.failures(), 0);
    EXPECT_GT(counter.answered(), 0);
    EXPECT_EQ(stateOf(office->database()), before);
}

// Guessers on many connections from eight addresses, all at once, at an operator who has
// logged in from his own counter before: however they race, no more guesses are checked
// than the operator's bound, no more hashes run at once than allowed, a stranger with the
// right password learns nothing once the bound is spent, and the operator logs in from his
// own counter meanwhile.
TEST_F(HostileClientTest, GuessersAreThrottledAndTheOperatorStillLogsIn) {
    backoffice::OfficeOptions o;
    o.throttle.freeFailures = 2;
    o.throttle.firstDelay = 300ms;
    o.throttle.maxDelay = 2s;
    o.throttle.guessesPerOperator = 10;
    o.maxHashes = 2;
    o.hashWait = 3s; // the operator's own login waits its turn rather than hear "busy"
    backoffice::TcpServer::Options options;
    // Room and time in the strangers' queue for every guesser and the lucky stranger: the
    // throttle decides here, not the queue.
    options.strangerQueue = 32;
    options.strangerWait = 60s;
    // Nor is a guesser closed for never logging in while a loaded machine hashes slowly.
    options.loginTimeout = 10min;
    serve(options, o);
    {
        WireClient own(port(), 10s, "127.0.0.1");
        ASSERT_EQ(own.call(loginPacket("1004", "pass1004"))->code(), 0);
    }
    std::atomic<int> checked{0};
    std::atomic<int> throttled{0};
    std::atomic<int> other{0};
    std::atomic<int> unanswered{0};
    std::atomic<int> guessing{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> guessers;
    for (int a = 2; a < 10; ++a) {
        for (int c = 0; c < 2; ++c) {
            ++guessing;
            guessers.emplace_back([&, a, c] {
                const std::string source = "127.0.0." + std::to_string(a);
                // Longer than a guess may wait in the strangers' queue: on a loaded machine
                // the hashes, below every other thread, run seconds apart, and a guess
                // given up on would still be counted against the operator.
                WireClient guesser(port(), options.strangerWait + 30s, source.c_str());
                for (int i = 0; !stop; ++i) {
                    auto reply = guesser.call(
                        loginPacket("1004", "guess" + std::to_string(a * 1000 + c * 500 + i)));
                    if (!reply) {
                        ++unanswered;
                        break;
                    }
                    if (reply->code() == errors::wrongPassword)
                        ++checked;
                    else if (reply->code() == errors::passwordThrottled ||
                             reply->code() == errors::busy)
                        ++throttled;
                    else
                        ++other;
                }
                --guessing;
            });
        }
    }
    // Until the guessers have spent the operator's bound, however slowly the hashes run.
    for (int i = 0; i < 30000 && checked < o.throttle.guessesPerOperator && guessing > 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(checked.load(), o.throttle.guessesPerOperator);
    EXPECT_EQ(unanswered.load(), 0);
    // While they go on: the operator on his own counter, and a stranger who guessed right.
    WireClient own(port(), 10s, "127.0.0.1");
    auto login = own.call(loginPacket("1004", "pass1004"));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->code(), 0) << login->info();
    WireClient lucky(port(), 10s, "127.0.0.77");
    auto refused = lucky.call(loginPacket("1004", "pass1004"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), errors::passwordThrottled);
    EXPECT_EQ(refused->info().rfind("操作员[1004]近期密码错误次数过多", 0), 0u) << refused->info();
    stop = true;
    for (std::thread& t : guessers)
        t.join();

    EXPECT_LE(checked.load(), o.throttle.guessesPerOperator);
    EXPECT_GT(throttled.load(), 0);
    EXPECT_EQ(other.load(), 0);
    EXPECT_LE(backOffice->passwords().peakHashes(), o.maxHashes);
}

// Counters logged in as 1001 on connections of their own, whose requests go out at once.
class RacingCounters {
public:
    RacingCounters(std::uint16_t port, int count) {
        for (int i = 0; i < count; ++i) {
            clients_.push_back(std::make_unique<WireClient>(port));
            EXPECT_EQ(clients_.back()->call(loginPacket("1001", "pass1001"))->code(), 0);
        }
    }
    WireClient& operator[](std::size_t i) { return *clients_[i]; }
    // Each counter's packet sent at the same moment; their replies in the counters' order.
    std::vector<Reply> race(const std::vector<std::string>& packets) {
        std::vector<std::optional<Reply>> replies(packets.size());
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < packets.size(); ++i) {
            threads.emplace_back([&, i] {
                while (!go)
                    std::this_thread::yield();
                replies[i] = clients_[i]->call(packets[i]);
            });
        }
        go = true;
        for (std::thread& t : threads)
            t.join();
        std::vector<Reply> out;
        for (auto& r : replies) {
            EXPECT_TRUE(r);
            out.push_back(r ? std::move(*r) : Reply(backoffice::errorReply(0, -1, "no reply")));
        }
        return out;
    }

private:
    std::vector<std::unique_ptr<WireClient>> clients_;
};

// Racing opens of one client, and racing resends of two approved closes of one client:
// exactly one changes anything, the others are told why, never a server fault and never a
// success for a change not made; an approval whose change was refused stays unused.
TEST_F(HostileClientTest, RacingChangesSucceedOnlyWhenTheyChangeSomething) {
    backoffice::OfficeOptions o;
    o.writePace = {1000, 1000}; // rounds of races, faster than one operator is paced
    serve({}, o);
    RacingCounters counters(port(), 4);
    Fields open = header(730001);
    open.insert(open.end(), {{"branch_no", std::int64_t{8}},
                             {"client_id", std::string("100001")},
                             {"fund_account", std::int64_t{80000001}},
                             {"discount_rate", std::string("0.80")}});
    const std::string openPacket = buildPacket(730001, open);
    for (int round = 0; round < 8; ++round) {
        const auto replies = counters.race({openPacket, openPacket, openPacket, openPacket});
        int made = 0;
        for (const Reply& r : replies) {
            if (r.code() == 0) {
                ++made;
            } else {
                EXPECT_EQ(r.code(), errors::alreadyVip) << r.info();
                EXPECT_EQ(r.info(), "该客户已是VIP客户");
            }
        }
        EXPECT_EQ(made, 1) << "round " << round;
        office->database().exec("DELETE FROM vip_client WHERE fund_account = 80000001");
    }

    Fields close = header(730002);
    close.insert(close.end(),
                 {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000003}}});
    Fields resend = close;
    resend.push_back({"audit_action", std::string("2")});
    office->database().exec(
        "CREATE TABLE saved AS SELECT * FROM vip_client WHERE fund_account = 80000003");
    for (int round = 0; round < 5; ++round) {
        std::vector<std::int64_t> processes;
        for (std::size_t i = 0; i < 2; ++i) {
            auto demanded = counters[i].call(buildPacket(730002, close));
            ASSERT_TRUE(demanded);
            ASSERT_EQ(demanded->code(), errors::reviewRequired) << demanded->info();
            const std::string info = demanded->info();
            const std::size_t first = info.find(',');
            processes.push_back(std::stoll(info.substr(first + 1, info.find(',', first + 1))));
            Fields approval = header(360042);
            approval.insert(approval.end(), {{"process_id", processes.back()},
                                             {"audit_branch_no", std::int64_t{0}},
                                             {"audit_operator_no", std::string("1002")},
                                             {"auditop_password", std::string("pass1002")},
                                             {"audit_level", std::int64_t{1}},
                                             {"occur_date", std::int64_t{0}},
                                             {"task_serial_no", std::int64_t{0}},
                                             {"audit_remark", std::string("-")}});
            ASSERT_EQ(counters[i].call(buildPacket(360042, approval))->code(), 0);
        }
        const std::string packet = buildPacket(730002, resend);
        const auto replies = counters.race({packet, packet});
        const int made = (replies[0].code() == 0) + (replies[1].code() == 0);
        EXPECT_EQ(made, 1) << "round " << round;
        for (std::size_t i = 0; i < 2; ++i) {
            if (replies[i].code() != 0) {
                EXPECT_EQ(replies[i].code(), errors::notVip);
                EXPECT_EQ(replies[i].info(), "该客户不是VIP客户");
            }
        }
        EXPECT_EQ(
            count("SELECT count(*) FROM review_process WHERE status = '2' AND process_id IN (" +
                  std::to_string(processes[0]) + "," + std::to_string(processes[1]) + ")"),
            made);
        office->database().exec("INSERT INTO vip_client SELECT * FROM saved");
    }
}

// Connections that never log in, from several addresses, more than the strangers' pool
// holds: they are closed at the login deadline, they never take the slots of logged-in
// counters, and a counter on an address where a login succeeded still gets in and logs in.
TEST_F(HostileClientTest, StrangersNeitherOutstayTheLoginDeadlineNorFillTheSlots) {
    backoffice::TcpServer::Options options;
    options.maxConnections = 8;
    options.maxStrangers = 4;
    options.maxStrangersPerSource = 3;
    options.earlyDropFrom = 1; // refused only when full, so the counts are known
    options.knownRoom = 1;
    options.loginTimeout = 600ms;
    serve(options);
    std::vector<std::unique_ptr<WireClient>> counters;
    for (int i = 0; i < 3; ++i) {
        counters.push_back(std::make_unique<WireClient>(port(), 5s));
        ASSERT_EQ(counters.back()->call(loginPacket("1001", "pass1001"))->code(), 0);
    }
    std::vector<std::unique_ptr<WireClient>> hoarders;
    for (int a = 2; a < 6; ++a) {
        const std::string source = "127.0.0." + std::to_string(a);
        for (int i = 0; i < 3; ++i)
            hoarders.push_back(std::make_unique<WireClient>(port(), 3s, source.c_str()));
    }
    // A fourth from one address is refused at once.
    WireClient greedy(port(), 2s, "127.0.0.2");
    EXPECT_TRUE(greedy.closedByServer());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server->connections(), 3u + options.maxStrangers - options.knownRoom);

    WireClient late(port(), 5s);
    auto login = late.call(loginPacket("1002", "pass1002"));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->code(), 0);
    for (auto& c : counters)
        EXPECT_EQ(c->call(configRequest())->code(), 0);
    // Every hoarder is closed by the deadline at the latest.
    const auto start = std::chrono::steady_clock::now();
    for (auto& h : hoarders)
        EXPECT_TRUE(h->closedByServer());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(server->connections(), 4u);
}

// When the strangers' pool is full, an address that keeps opening connections is
// refused; it never pushes out the one connection of a counter that has not logged in yet.
TEST_F(HostileClientTest, AnAddressThatOpensConnectionsNeverPushesOutAnother) {
    backoffice::TcpServer::Options options;
    options.maxStrangers = 4;
    options.maxStrangersPerSource = 4;
    options.earlyDropFrom = 1;
    options.knownRoom = 0;
    serve(options);
    WireClient counter(port(), 5s, "127.0.0.9");
    std::vector<std::unique_ptr<WireClient>> hoarders;
    for (int i = 0; i < 12; ++i)
        hoarders.push_back(std::make_unique<WireClient>(port(), 100ms, "127.0.0.2"));
    for (int i = 0; i < 4; ++i)
        hoarders.push_back(std::make_unique<WireClient>(port(), 100ms, "127.0.0.3"));
    std::this_thread::sleep_for(100ms);
    int closed = 0;
    for (auto& h : hoarders)
        closed += h->closedByServer();
    EXPECT_EQ(closed, 13); // 16 came, 3 stay beside the counter
    auto login = counter.call(loginPacket("1002", "pass1002"));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->code(), 0);
}

// Logins from connections nobody has logged in on wait for the slow password hash on a
// thread of their own: a counter that is logged in is answered while they wait.
TEST_F(HostileClientTest, LoginsWaitingForTheHashDoNotHoldUpLoggedInCounters) {
    backoffice::TcpServer::Options options;
    options.workers = 2;
    options.strangerWait = 60s; // each guess waits its turn, however slow the machine
    backoffice::OfficeOptions officeOptions;
    officeOptions.maxHashes = 1;
    officeOptions.hashWait = 60s;
    serve(options, officeOptions);
    WireClient counter(port(), 30s);
    ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);

    // The test holds the one turn at the hash, so every guess waits for it for as long as
    // the test wants, however fast or slow the machine.
    std::optional<backoffice::Passwords::Turn> held(backOffice->passwords().takeTurn());
    ASSERT_TRUE(*held);
    // Each from an address of its own, so no throttle holds them before the hash.
    std::vector<std::unique_ptr<WireClient>> guessers;
    for (int a = 2; a < 8; ++a) {
        const std::string source = "127.0.0." + std::to_string(a);
        guessers.push_back(std::make_unique<WireClient>(port(), 30s, source.c_str()));
        ASSERT_TRUE(guessers.back()->sendPacket(loginPacket("1004", "guess")));
    }
    // The counter is answered while every guess still waits.
    auto reply = counter.call(configRequest());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->code(), 0);
    int answered = 0;
    for (auto& g : guessers) {
        pollfd p{g->fd(), POLLIN, 0};
        answered += ::poll(&p, 1, 0) == 1;
    }
    EXPECT_EQ(answered, 0);
    held.reset();
    for (auto& g : guessers) {
        auto guess = g->receive();
        ASSERT_TRUE(guess);
        EXPECT_EQ(guess->code(), errors::wrongPassword);
    }
}

// A client that sends what no counter sends and comes straight back each time it is
// closed gets one connection per pause, not one per turn of its loop.
TEST_F(HostileClientTest, AClientClosedForABadFrameIsClosedAfterAPause) {
    backoffice::TcpServer::Options options;
    options.rejectPause = 300ms;
    serve(options);
    WellBehaved counter(port());
    // A header that announces more than the largest frame.
    const std::string oversized =
        protocol::encodeFrame(1, std::string(options.maxFrame + 1, 'M')).substr(0, 64);
    const auto start = std::chrono::steady_clock::now();
    int turns = 0;
    while (std::chrono::steady_clock::now() - start < 1500ms) {
        WireClient hostile(port(), 2s);
        ASSERT_TRUE(hostile.sendAll(oversized));
        EXPECT_TRUE(hostile.closedByServer());
        ++turns;
    }
    counter.finish();
    EXPECT_LE(turns, 6);
    EXPECT_GE(server->dropped(), static_cast<std::uint64_t>(turns - 1));
    EXPECT_EQ(counter.failures(), 0);
}

// After a large request a connection's buffer returns to a small size: memory held for
// idle connections does not keep the largest frame each ever sent.
TEST_F(HostileClientTest, ALargeFrameIsNotKeptOnceConsumed) {
    backoffice::TcpServer::Options options;
    options.maxLoginsPerOperator = 8;
    serve(options);
    std::vector<std::unique_ptr<WireClient>> clients;
    Fields big = header(105006);
    big.push_back({"branch_no", std::int64_t{8}});
    big.push_back({"config_no", std::int64_t{1129}});
    for (int i = 0; i < 12; ++i)
        big.push_back({"pad" + std::to_string(i), std::string(15000, 'x')});
    const std::string packet = buildPacket(105006, big);
    ASSERT_GT(packet.size(), 150'000u);
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<WireClient>(port()));
        ASSERT_EQ(clients.back()->call(loginPacket("1001", "pass1001"))->code(), 0);
        auto reply = clients.back()->call(packet);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->code(), 0);
    }
    EXPECT_GE(server->peakHeldBytes(), packet.size());
    EXPECT_LT(server->heldBytes(), 8 * protocol::FrameReader::keptCapacity);
}

// Requests that would make the server work or store without bound are refused with why,
// and an internal fault is answered in words with a number, its detail kept to the log.
TEST_F(HostileClientTest, OversizedRequestsAreRefusedAndFaultsTellNoDetail) {
    serve({});
    WellBehaved counter(port());
    WireClient client(port());
    ASSERT_EQ(client.call(loginPacket("1001", "pass1001"))->code(), 0);
    const std::string before = stateOf(office->database());

    // A branch list: duplicates count once; more branches than there are is refused.
    const auto list = [&](const std::string& branches) {
        Fields fields = header(730004);
        fields.insert(fields.end(), {{"branch_no", std::int64_t{0}},
                                     {"en_branch_no", branches},
                                     {"fund_account", std::int64_t{0}},
                                     {"position_str", std::string("0")},
                                     {"request_num", std::int64_t{5}}});
        return client.call(buildPacket(730004, fields));
    };
    std::string repeated;
    for (int i = 0; i < 2000; ++i)
        repeated += "8,";
    EXPECT_EQ(list(repeated)->code(), 0);
    std::string many;
    for (int i = 1; i <= 2000; ++i)
        many += std::to_string(i) + ",";
    auto tooMany = list(many);
    EXPECT_EQ(tooMany->code(), errors::badRequest);
    EXPECT_EQ(tooMany->info().rfind("营业部列表过长：最多", 0), 0u) << tooMany->info();

    // A review demand with a field over the bound stores nothing.
    Fields close = header(730002);
    close.insert(close.end(), {{"branch_no", std::int64_t{8}},
                               {"fund_account", std::int64_t{80000003}},
                               {"remark", std::string(64 * 1024, 'r')}});
    auto refused = client.call(buildPacket(730002, close));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), errors::tooLarge);
    EXPECT_EQ(refused->info(), "请求字段[remark]过长：最多16384字节");
    // A frame over the server's bound closes its connection before it is read.
    WireClient giant(port(), 5s);
    ASSERT_EQ(giant.call(loginPacket("1001", "pass1001"))->code(), 0);
    close.back().second = std::string(4u << 20, 'r');
    giant.sendPacket(buildPacket(730002, close));
    EXPECT_TRUE(giant.closedByServer());
    EXPECT_EQ(stateOf(office->database()), before);

    office->database().exec("DROP TABLE sync_request");
    Fields sync = header(730000);
    sync.insert(sync.end(), {{"branch_no", std::int64_t{8}},
                             {"fund_account", std::int64_t{80000001}},
                             {"sync_type", std::int64_t{0}}});
    auto fault = client.call(buildPacket(730000, sync));
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->code(), errors::serverFault);
    EXPECT_EQ(fault->info().rfind("后台内部错误，请联系管理员（参考号：", 0), 0u) << fault->info();
    EXPECT_EQ(fault->info().find("sync_request"), std::string::npos);

    counter.finish();
    EXPECT_EQ(counter.failures(), 0);
}

// A guesser the throttle holds back gets a refusal now and then, however many guesses it
// pipelines: the server spends neither a worker nor a check on the rest meanwhile.
TEST_F(HostileClientTest, PipelinedGuessesAreHeldBack) {
    backoffice::OfficeOptions o;
    o.throttle.freeFailures = 1;
    o.throttle.firstDelay = 500ms;
    serve({}, o);
    WireClient guesser(port(), 100ms, "127.0.0.5");
    std::string guesses;
    for (int i = 0; i < 50; ++i)
        guesses += protocol::encodeFrame(i, loginPacket("1004", "guess" + std::to_string(i)));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(guesser.sendAll(guesses));
    // Past the free guesses a guess the throttle refuses holds the connection for the first
    // delay, and a wrong one restarts the address's wait: after the first three answers at
    // most two come per delay, however slow the machine. A server that took the guesses as
    // they came would answer far more.
    int answered = 0;
    const auto enough = start + 1200ms;
    const auto deadline = start + 30s;
    for (auto now = start; (answered < 3 || now < enough) && now < deadline;
         now = std::chrono::steady_clock::now())
        answered += guesser.receive().has_value();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(answered, 3);
    EXPECT_LE(answered, 3 + 2 * (elapsed / o.throttle.firstDelay));
    EXPECT_LT(answered, 50);
}

TEST_F(HostileClientTest, AClientThatNeverReadsIsHeldToItsOutputCap) {
    backoffice::TcpServer::Options options;
    options.maxOutput = 128 * 1024;
    options.frameTimeout = 1500ms;
    serve(options);
    WellBehaved counter(port());

    WireClient hog(port(), 200ms);
    ASSERT_EQ(hog.call(loginPacket("1001", "pass1001"))->code(), 0);
    // Request after request, never reading a reply, for a bounded time: the sends stop
    // going through once the server has stopped reading from this client.
    const std::string frame = protocol::encodeFrame(1, vipListRequest());
    const auto until = std::chrono::steady_clock::now() + 2s;
    std::size_t sent = 0;
    while (std::chrono::steady_clock::now() < until && hog.sendAll(frame))
        sent += frame.size();
    counter.finish();

    EXPECT_EQ(counter.failures(), 0);
    // What the server held for everybody stays near the one client's cap, however much
    // that client sent.
    EXPECT_LT(server->peakHeldBytes(), options.maxOutput + 512 * 1024) << "sent " << sent;
    // A client whose replies make no progress is closed.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (server->dropped() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(server->dropped(), 1u);
    hog.setWait(5s);
    EXPECT_TRUE(hog.closedByServer());
}

// A client that sends request after request without waiting for its replies (a counter
// never does) is paced: the server does not spend itself answering a flood nobody reads,
// and a counter that waits for its replies is never paced, however fast it asks.
TEST_F(HostileClientTest, AClientThatSendsWithoutReadingIsPaced) {
    backoffice::TcpServer::Options options;
    options.pipelinedPerSecond = 20;
    options.pipelinedBurst = 10;
    serve(options);
    WellBehaved counter(port());

    WireClient flood(port(), 200ms);
    ASSERT_EQ(flood.call(loginPacket("1001", "pass1001"))->code(), 0);
    Fields sync = header(730000);
    sync.insert(sync.end(), {{"branch_no", std::int64_t{8}},
                             {"fund_account", std::int64_t{80000001}},
                             {"sync_type", std::int64_t{0}}});
    const std::string frame = protocol::encodeFrame(1, buildPacket(730000, sync));
    const auto count = [&] {
        backoffice::Statement s = office->database().prepare("SELECT count(*) FROM sync_request");
        s.step();
        return s.integer(0);
    };
    const auto before = count();
    const auto start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    while (std::chrono::steady_clock::now() - start < 2s && flood.sendAll(frame))
        ++sent;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto handled = count() - before;
    counter.finish();

    // Unpaced, a flood of two seconds is thousands of writes.
    EXPECT_LE(handled, static_cast<std::int64_t>(options.pipelinedBurst +
                                                 options.pipelinedPerSecond * (seconds + 0.5)))
        << "sent " << sent;
    EXPECT_GT(sent, static_cast<std::size_t>(handled));
    EXPECT_EQ(counter.failures(), 0);
    EXPECT_GT(counter.answered(), options.pipelinedBurst + options.pipelinedPerSecond * seconds);
    // Nothing sent is lost: the flood's replies come, at the pace.
    flood.setWait(5s);
    for (int i = 0; i < 5; ++i) {
        auto reply = flood.receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->code(), 0);
    }
}

TEST_F(HostileClientTest, SlowSendersAndIdleConnectionsAreClosed) {
    backoffice::TcpServer::Options options;
    options.frameTimeout = 400ms;
    options.idleTimeout = 700ms;
    serve(options);

    // A byte at a time, each well within the old stall time: the whole frame is late.
    WireClient slow(port(), 100ms);
    const std::string frame = protocol::encodeFrame(1, configRequest());
    const auto start = std::chrono::steady_clock::now();
    bool closed = false;
    for (std::size_t i = 0; i < frame.size() && !closed; ++i) {
        closed = !slow.sendAll(frame.substr(i, 1)) || slow.closedByServer();
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    WireClient idle(port(), 5s);
    const auto idleStart = std::chrono::steady_clock::now();
    EXPECT_TRUE(idle.closedByServer());
    EXPECT_GE(std::chrono::steady_clock::now() - idleStart, 600ms);

    // A counter that keeps talking is not idle.
    WireClient busy(port(), 5s);
    ASSERT_EQ(busy.call(loginPacket("1001", "pass1001"))->code(), 0);
    for (int i = 0; i < 6; ++i) {
        std::this_thread::sleep_for(200ms);
        auto reply = busy.call(configRequest());
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->code(), 0);
    }
    EXPECT_EQ(server->dropped(), 2u);
}

TEST_F(HostileClientTest, LoginsOverTheCapAreRefusedAndServiceGoesOn) {
    backoffice::TcpServer::Options options;
    options.maxConnections = 6;
    options.maxLoginsPerOperator = 6;
    serve(options);
    // Six counters logged in fill the server: nobody else logs in.
    std::vector<std::unique_ptr<WireClient>> crowd;
    for (int i = 0; i < 10; ++i) {
        crowd.push_back(std::make_unique<WireClient>(port(), 3s));
        auto login = crowd.back()->call(loginPacket("1002", "pass1002"));
        ASSERT_TRUE(login);
        if (i < 6) {
            EXPECT_EQ(login->code(), 0);
        } else {
            EXPECT_EQ(login->code(), errors::tooManyLogins);
            EXPECT_TRUE(crowd.back()->closedByServer());
        }
    }
    EXPECT_EQ(server->connections(), 6u);
    EXPECT_EQ(server->refusedLogins(), 4u);
    crowd.clear();
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (server->connections() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    WireClient late(port());
    ASSERT_EQ(late.call(loginPacket("1001", "pass1001"))->code(), 0);
    EXPECT_EQ(late.call(configRequest())->code(), 0);
}

// The server in a process of its own with few descriptors: when they run out it neither
// spins nor dies, and it serves again once connections go.
TEST_F(HostileClientTest, RunningOutOfDescriptorsNeitherSpinsNorKills) {
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit few{48, 48};
        ::setrlimit(RLIMIT_NOFILE, &few);
        ::dup2(out[1], 1);
        ::execl(BACKOFFICE_EXE, BACKOFFICE_EXE, "serve", "--db", path.c_str(), "--listen",
                "127.0.0.1:0", "--max-connections", "1000", "--max-strangers", "1000",
                "--max-strangers-per-source", "1000", "--workers", "2", nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reaper{child};
    std::string banner;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (banner.find('\n') == std::string::npos && ::poll(&p, 1, 20000) == 1 &&
           ::read(out[0], &c, 1) == 1)
        banner.push_back(c);
    ::close(out[0]);
    const std::size_t colon = banner.rfind(':');
    ASSERT_NE(colon, std::string::npos) << banner;
    const auto port = static_cast<std::uint16_t>(std::stoi(banner.substr(colon + 1)));

    const auto cpuTicks = [&] {
        std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string skip;
        for (int i = 0; i < 11; ++i)
            fields >> skip;
        long user = 0;
        long system = 0;
        fields >> user >> system;
        return user + system;
    };
    std::vector<std::unique_ptr<WireClient>> crowd;
    for (int i = 0; i < 80; ++i)
        crowd.push_back(std::make_unique<WireClient>(port, 2s));
    std::this_thread::sleep_for(200ms);
    const long before = cpuTicks();
    std::this_thread::sleep_for(1s);
    const long ticks = cpuTicks() - before;
    EXPECT_LT(ticks, ::sysconf(_SC_CLK_TCK) / 4) << "the server spun while out of descriptors";
    EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), 0) << "the server died";

    crowd.clear();
    std::this_thread::sleep_for(300ms);
    WireClient late(port, 10s);
    auto login = late.call(loginPacket("1001", "pass1001"));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->code(), 0);
    EXPECT_EQ(late.call(configRequest())->code(), 0);
}

TEST(BackOfficeCommand, CertMakesAPrivatePairAndKeepsTheOneItReplaces) {
    TemporaryDir dir;
    const std::string cert = dir.filePath("room.pem");
    const std::string key = dir.filePath("room.key");
    const std::string command = std::string(BACKOFFICE_EXE) + " cert --cert " + cert + " --key " +
                                key + " --host office.local,10.0.0.7 > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(std::filesystem::exists(cert));
    EXPECT_EQ(std::filesystem::status(key).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::ifstream pem(cert);
    const std::string text((std::istreambuf_iterator<char>(pem)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
    std::ifstream oldKey(key);
    const std::string keyText((std::istreambuf_iterator<char>(oldKey)),
                              std::istreambuf_iterator<char>());
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream keptKey(key + ".old");
    EXPECT_EQ(
        std::string((std::istreambuf_iterator<char>(keptKey)), std::istreambuf_iterator<char>()),
        keyText);
    EXPECT_EQ(std::filesystem::status(key + ".old").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// 64 addresses each hold one connection that never logs in, and open it again the moment
// it is closed. A counter that connects and logs in 3 s later is not pushed out.
TEST_F(HostileClientTest, StrangersFromManyAddressesNeverPushOutACounterBeforeItsLogin) {
    serve({});
    std::atomic<bool> stop{false};
    std::vector<std::thread> strangers;
    for (int a = 0; a < 64; ++a) {
        strangers.emplace_back([&, a] {
            const std::string source = "127.0.0." + std::to_string(10 + a);
            while (!stop) {
                WireClient held(port(), 50ms, source.c_str());
                while (!stop && !held.closedByServer()) {
                }
                std::this_thread::sleep_for(1ms); // the machine stays usable for the test
            }
        });
    }
    const auto start = std::chrono::steady_clock::now();
    while (server->connections() < 64 && std::chrono::steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(server->connections(), 64u);

    std::unique_ptr<WireClient> counter;
    while (std::chrono::steady_clock::now() - start < 20s) {
        counter = std::make_unique<WireClient>(port(), 200ms);
        if (!counter->closedByServer())
            break;
        counter.reset();
    }
    ASSERT_TRUE(counter) << "the counter never got a slot";
    const auto pushedOutBefore = server->dropped();
    std::this_thread::sleep_for(3s);
    counter->setWait(10s);
    auto login = counter->call(loginPacket("1001", "pass1001"));
    stop = true;
    for (std::thread& t : strangers)
        t.join();
    ASSERT_TRUE(login) << "the counter was pushed out before its login";
    EXPECT_EQ(login->code(), 0);
    EXPECT_EQ(counter->call(configRequest())->code(), 0);
    EXPECT_EQ(server->dropped() - pushedOutBefore, 0u);
}

// One operator's password opens his few connections, not every slot: the rest of 256
// logins are refused before their password is tried, and other operators still log in.
TEST_F(HostileClientTest, OneOperatorHoldsAFewConnectionsNotEverySlot) {
    serve({});
    std::vector<std::unique_ptr<WireClient>> taken;
    int accepted = 0;
    int refused = 0;
    for (int i = 0; i < 256; ++i) {
        taken.push_back(std::make_unique<WireClient>(port(), 5s));
        auto login = taken.back()->call(loginPacket("1001", "pass1001"));
        if (!login)
            continue;
        if (login->code() == 0) {
            ++accepted;
        } else {
            EXPECT_EQ(login->code(), errors::tooManyLogins);
            EXPECT_EQ(login->info(), "操作员[1001]已在4个连接上登录，请先退出其他柜台的登录，"
                                     "或请管理员处理");
            EXPECT_TRUE(taken.back()->closedByServer());
            ++refused;
        }
    }
    EXPECT_EQ(accepted, 4);
    EXPECT_EQ(refused, 252);
    EXPECT_EQ(server->refusedLogins(), 252u);
    for (const char* op : {"1002", "1003", "1004"}) {
        WireClient other(port(), 5s);
        EXPECT_EQ(other.call(loginPacket(op, "pass" + std::string(op)))->code(), 0) << op;
    }
    // A connection of his that closes gives its slot back.
    taken.front().reset();
    const auto start = std::chrono::steady_clock::now();
    while (server->connections() > 4 && std::chrono::steady_clock::now() - start < 3s)
        std::this_thread::sleep_for(10ms);
    WireClient again(port(), 5s);
    EXPECT_EQ(again.call(loginPacket("1001", "pass1001"))->code(), 0);
}

// The logged-in connections of all operators leave the strangers' slots free: a login
// over that bound is refused, and a new counter still connects.
TEST_F(HostileClientTest, LoggedInConnectionsLeaveSlotsForNewLogins) {
    backoffice::TcpServer::Options options;
    options.maxConnections = 4;
    options.maxStrangers = 2;
    options.maxLoginsPerOperator = 2;
    serve(options);
    std::vector<std::unique_ptr<WireClient>> counters;
    for (const char* op : {"1001", "1001", "1002", "1002"}) {
        counters.push_back(std::make_unique<WireClient>(port(), 5s));
        ASSERT_EQ(counters.back()->call(loginPacket(op, "pass" + std::string(op)))->code(), 0);
    }
    WireClient late(port(), 5s);
    auto refused = late.call(loginPacket("1003", "pass1003"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), errors::tooManyLogins);
    EXPECT_EQ(refused->info(), "后台的登录连接已满，请稍后再试");
    WireClient stranger(port(), 300ms);
    EXPECT_FALSE(stranger.closedByServer());
    counters.back().reset();
    const auto start = std::chrono::steady_clock::now();
    while (server->connections() > 4 && std::chrono::steady_clock::now() - start < 3s)
        std::this_thread::sleep_for(10ms);
    WireClient next(port(), 5s);
    EXPECT_EQ(next.call(loginPacket("1003", "pass1003"))->code(), 0);
}

namespace {

// The back office, with two functions of its own for the tests: function 1 throws what no
// handler should, and function 2 waits until the test lets it go on.
class FaultyService final : public protocol::PacketService {
public:
    explicit FaultyService(std::unique_ptr<protocol::PacketService> inner)
        : inner_(std::move(inner)) {}
    std::unique_ptr<protocol::PacketSession> openSession() override { return openSession("x"); }
    std::unique_ptr<protocol::PacketSession> openSession(const std::string& peer) override {
        return std::make_unique<Session>(*this, inner_->openSession(peer));
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    // Whether a request of function 2 is in hand, and how many have finished.
    bool waiting() const { return waiting_; }
    int finished() const { return finished_; }

private:
    class Session final : public protocol::PacketSession {
    public:
        Session(FaultyService& service, std::unique_ptr<protocol::PacketSession> inner)
            : service_(service), inner_(std::move(inner)) {}
        std::string handle(std::string_view request) override {
            protocol::PacketView view;
            const int function =
                view.decode(request) == protocol::DecodeStatus::Ok ? view.functionNo() : 0;
            if (function == 1)
                throw 42;
            if (function == 2) {
                service_.waiting_ = true;
                std::unique_lock lock(service_.mutex_);
                service_.changed_.wait(lock, [&] { return service_.released_; });
                ++service_.finished_;
            }
            return inner_->handle(request);
        }
        bool loggedIn() const override { return inner_->loggedIn(); }
        std::chrono::milliseconds holdBack() const override { return inner_->holdBack(); }

    private:
        FaultyService& service_;
        std::unique_ptr<protocol::PacketSession> inner_;
    };
    std::unique_ptr<protocol::PacketService> inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    std::atomic<bool> waiting_{false};
    std::atomic<int> finished_{0};
};

} // namespace

class FaultyServiceTest : public HostileClientTest {
protected:
    void SetUp() override {
        HostileClientTest::SetUp();
        office.reset();
        backOffice = std::make_shared<backoffice::BackOffice>(path);
        faulty = new FaultyService(backoffice::serviceOf(backOffice));
        service.reset(faulty);
        server =
            std::make_unique<backoffice::TcpServer>(*service, backoffice::TcpServer::Options{});
        thread = std::thread([this] { server->run(); });
    }
    FaultyService* faulty = nullptr;
};

// A handler that throws something no handler should closes its own connection; the
// server and the other counters go on.
TEST_F(FaultyServiceTest, AHandlerThatThrowsClosesOnlyItsConnection) {
    WireClient counter(port());
    ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
    WireClient faulting(port());
    ASSERT_EQ(faulting.call(loginPacket("1002", "pass1002"))->code(), 0);
    ASSERT_TRUE(faulting.sendPacket(buildPacket(1, header(1))));
    EXPECT_FALSE(faulting.receive());
    EXPECT_EQ(server->faults(), 1u);
    EXPECT_EQ(counter.call(configRequest())->code(), 0);
    WireClient stranger(port());
    ASSERT_TRUE(stranger.sendPacket(buildPacket(1, header(1))));
    EXPECT_FALSE(stranger.receive());
    EXPECT_EQ(server->faults(), 2u);
    EXPECT_EQ(counter.call(configRequest())->code(), 0);
}

// A client that goes while its request is on a worker: the worker finishes, the reply is
// dropped, and the server goes on.
TEST_F(FaultyServiceTest, AClientThatGoesWhileItsRequestIsOnAWorker) {
    {
        WireClient leaving(port());
        ASSERT_EQ(leaving.call(loginPacket("1001", "pass1001"))->code(), 0);
        ASSERT_TRUE(leaving.sendPacket(buildPacket(2, header(2))));
        const auto start = std::chrono::steady_clock::now();
        while (!faulty->waiting() && std::chrono::steady_clock::now() - start < 5s)
            std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(faulty->waiting());
    }
    auto start = std::chrono::steady_clock::now();
    while (server->connections() > 0 && std::chrono::steady_clock::now() - start < 5s)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(server->connections(), 0u);
    faulty->release();
    start = std::chrono::steady_clock::now();
    while (faulty->finished() == 0 && std::chrono::steady_clock::now() - start < 5s)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(faulty->finished(), 1);
    WireClient next(port());
    ASSERT_EQ(next.call(loginPacket("1001", "pass1001"))->code(), 0);
    EXPECT_EQ(next.call(configRequest())->code(), 0);
    EXPECT_EQ(server->faults(), 0u);
}
