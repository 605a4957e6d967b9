// The strangers' queue on its own, and the server over loopback while strangers' password
// guesses flood it: the logged-in counters are answered, the strangers' guesses run one at a
// time, and what the queue has no room for is refused as busy instead of waiting. Over TLS,
// a stranger's handshake waits for the strangers' thread, while logged-in counters do not.

#include "WireClient.h"

#include "Certificate.h"
#include "ServedOfficeTest.h"
#include "StrangerQueue.h"

#include "protocol/Packet.h"

#include <openssl/ssl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace errors = backoffice::errors;
using namespace std::chrono_literals;
using backoffice::StrangerQueue;

namespace {

// What the queue did with each piece of work, in the order it did it.
class Outcomes {
public:
    StrangerQueue::Work work(std::string name) {
        return [this, name = std::move(name)](bool run) {
            std::lock_guard lock(mutex_);
            order_.push_back((run ? "ran " : "refused ") + name);
        };
    }
    std::vector<std::string> order() const {
        std::lock_guard lock(mutex_);
        return order_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> order_;
};

// A counter over TLS on a plain blocking socket (OpenSSL's own client, not the server's
// stream); every wait is bounded by the socket's.
class TlsClient {
public:
    TlsClient(std::uint16_t port, std::chrono::milliseconds wait, const char* source)
        : wire_(port, wait, source), context_(SSL_CTX_new(TLS_client_method())),
          ssl_(SSL_new(context_)) {
        SSL_set_fd(ssl_, wire_.fd());
    }
    ~TlsClient() {
        SSL_free(ssl_);
        SSL_CTX_free(context_);
    }
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    void setWait(std::chrono::milliseconds wait) { wire_.setWait(wait); }
    // Takes the handshake on as far as the server answers within the wait; true once whole.
    // Called again, it goes on where it stopped.
    bool handshake() { return SSL_connect(ssl_) == 1; }
    bool sendPacket(const std::string& packet) {
        const std::string frame = protocol::encodeFrame(++id_, packet);
        return SSL_write(ssl_, frame.data(), static_cast<int>(frame.size())) ==
               static_cast<int>(frame.size());
    }
    std::optional<Reply> receive() {
        char buffer[16384];
        for (;;) {
            if (auto frame = reader_.next())
                return Reply(std::move(frame->packet));
            const int n = SSL_read(ssl_, buffer, sizeof buffer);
            if (n <= 0)
                return std::nullopt;
            reader_.feed(buffer, static_cast<std::size_t>(n));
        }
    }
    std::optional<Reply> call(const std::string& packet) {
        if (!sendPacket(packet))
            return std::nullopt;
        return receive();
    }

private:
    WireClient wire_;
    SSL_CTX* context_;
    SSL* ssl_;
    std::int64_t id_ = 0;
    protocol::FrameReader reader_;
};

// The back office, but a login as `heldOperator` keeps the thread that handles it until the
// test lets it go: the strangers' thread is then known to be busy.
class HeldLogins : public protocol::PacketService {
public:
    static constexpr const char* heldOperator = "9999";

    explicit HeldLogins(protocol::PacketService& office)
        : office_(office), released_(release_.get_future().share()) {}
    ~HeldLogins() override { letGo(); }

    std::unique_ptr<protocol::PacketSession> openSession() override {
        return openSession("unknown");
    }
    std::unique_ptr<protocol::PacketSession> openSession(const std::string& peer) override {
        return std::make_unique<Session>(*this, office_.openSession(peer));
    }
    // Whether a held login has begun within `wait`.
    bool holding(std::chrono::milliseconds wait) {
        return entered_.wait_for(wait) == std::future_status::ready;
    }
    void letGo() {
        std::call_once(letGo_, [&] { release_.set_value(); });
    }

private:
    class Session : public protocol::PacketSession {
    public:
        Session(HeldLogins& owner, std::unique_ptr<protocol::PacketSession> session)
            : owner_(owner), session_(std::move(session)) {}
        std::string handle(std::string_view request) override {
            protocol::PacketView view;
            if (view.decode(request) == protocol::DecodeStatus::Ok &&
                view.functionNo() == protocol::function::login && view.recordCount() > 0 &&
                view.indexOf("operator_no") >= 0 &&
                view.text(0, static_cast<std::size_t>(view.indexOf("operator_no"))) ==
                    heldOperator) {
                std::call_once(owner_.entering_, [&] { owner_.enter_.set_value(); });
                owner_.released_.wait();
            }
            return session_->handle(request);
        }
        bool loggedIn() const override { return session_->loggedIn(); }
        std::chrono::milliseconds holdBack() const override { return session_->holdBack(); }

    private:
        HeldLogins& owner_;
        std::unique_ptr<protocol::PacketSession> session_;
    };

    protocol::PacketService& office_;
    std::promise<void> release_;
    std::shared_future<void> released_;
    std::once_flag letGo_;
    std::promise<void> enter_;
    std::future<void> entered_ = enter_.get_future();
    std::once_flag entering_;
};

} // namespace

// Steps (a stranger's handshake work) go before the next work, whatever waits, a known
// address's before the others'; once the queue stops, it takes none and runs none of those
// still waiting. The queue's thread runs below the process's priority; while counters ask,
// an unknown address's steps run at the idle class, which gives way at once to any other
// thread, and once they have not asked for a while, at the queue's priority again.
TEST(StrangerQueue, StepsGoBeforeTheNextWorkAndNoneRunsOnceStoppedAtALowerPriority) {
    Outcomes outcomes;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<int> started;
    std::atomic<int> late{0};
    StrangerQueue::Bounds bounds{2, std::chrono::hours(1), 5};
    bounds.askingWithin = std::chrono::hours(1);
    bounds.restPerTurn = 0; // the order without rests; a rest holds back what is unknown
    StrangerQueue queue(bounds);
    ASSERT_TRUE(queue.push(
        [&](bool) {
            started.set_value(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())));
            released.wait();
        },
        true));
    const int mine = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    EXPECT_EQ(started.get_future().get(), std::min(mine + 5, 19));
    EXPECT_TRUE(queue.push(outcomes.work("stranger"), false));
    EXPECT_TRUE(queue.push(outcomes.work("known"), true));
    // Each step says which scheduling class it ran at.
    const auto step = [&](StrangerQueue& on, std::string name, bool known) {
        return on.post(
            [&, name] {
                const bool idle = ::sched_getscheduler(0) == SCHED_IDLE;
                outcomes.work(name + (idle ? " at idle" : ""))(true);
            },
            known);
    };
    const auto until = [&](std::size_t done) {
        for (int i = 0; i < 1000 && outcomes.order().size() < done; ++i)
            std::this_thread::sleep_for(10ms);
    };
    EXPECT_TRUE(step(queue, "unknown step 1", false));
    EXPECT_TRUE(step(queue, "known step", true));
    EXPECT_TRUE(step(queue, "unknown step 2", false));
    queue.countersAsked();
    release.set_value();
    until(5);
    {
        // A counter asked longer ago than askingWithin: the queue's own priority again.
        bounds.askingWithin = 1ms;
        StrangerQueue asked(bounds);
        asked.countersAsked();
        std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(step(asked, "unknown step 3", false));
        until(6);
    }
    queue.stop();
    EXPECT_FALSE(queue.post([&] { ++late; }, false));
    EXPECT_FALSE(queue.post([&] { ++late; }, true));
    EXPECT_EQ(outcomes.order(),
              (std::vector<std::string>{"ran known step", "ran unknown step 1 at idle",
                                        "ran unknown step 2 at idle", "ran known", "ran stranger",
                                        "ran unknown step 3"}));
    EXPECT_EQ(late.load(), 0);
}

// While one piece of work holds the thread: the queue takes `length` from unknown addresses
// and `length` from known ones, refuses the next at once, and then does the known ones first;
// the unknown ones that waited past the bound are refused, the known ones never are.
TEST(StrangerQueue, KnownWorkFirstAndTheRestBoundedInLengthAndWait) {
    Outcomes outcomes;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> started;
    {
        StrangerQueue queue({2, 1ms});
        // Known, so that however late the thread takes it, it is run, never refused.
        ASSERT_TRUE(queue.push(
            [&](bool) {
                started.set_value();
                released.wait();
            },
            true));
        started.get_future().wait(); // the thread holds it: the rest waits
        EXPECT_TRUE(queue.push(outcomes.work("stranger 1"), false));
        EXPECT_TRUE(queue.push(outcomes.work("stranger 2"), false));
        EXPECT_FALSE(queue.push(outcomes.work("stranger 3"), false));
        EXPECT_TRUE(queue.push(outcomes.work("known 1"), true));
        EXPECT_TRUE(queue.push(outcomes.work("known 2"), true));
        EXPECT_FALSE(queue.push(outcomes.work("known 3"), true));
        std::this_thread::sleep_for(20ms); // past the wait of 1 ms
        release.set_value();
        for (int i = 0; i < 1000 && outcomes.order().size() < 4; ++i)
            std::this_thread::sleep_for(10ms);
        queue.stop();
        EXPECT_EQ(queue.done(), 3u);
        EXPECT_EQ(queue.refusedFull(), 2u);
        EXPECT_EQ(queue.refusedLate(), 2u);
        EXPECT_EQ(queue.peakWaiting(), 4u);
    }
    EXPECT_EQ(outcomes.order(),
              (std::vector<std::string>{"ran known 1", "ran known 2", "refused stranger 1",
                                        "refused stranger 2"}));
}

// After a turn of strangers' work during which a logged-in counter asked, the thread rests
// for restPerTurn times as long as the turn took; after one during which none asked it goes
// on at once; work from an unknown address that came meanwhile is not refused for the rest's
// length; work from a known one goes during the rest without ending it, so the unknown work
// still waits for its end; a stop ends it. The waits asserted are far from the rests they
// tell apart.
TEST(StrangerQueue, RestsAfterATurnOnlyWhenCountersAskedMeanwhile) {
    StrangerQueue::Bounds bounds{8, 500ms, 0};
    bounds.restPerTurn = 100;
    bounds.maxRest = std::chrono::hours(1);
    StrangerQueue queue(bounds);
    using Clock = std::chrono::steady_clock;
    const auto turn = [&](std::chrono::milliseconds length, bool asked,
                          std::promise<Clock::time_point>& ended) {
        return [&, length, asked](bool) {
            if (asked)
                queue.countersAsked();
            std::this_thread::sleep_for(length);
            ended.set_value(Clock::now());
        };
    };
    const auto startOfNext = [&] {
        std::promise<Clock::time_point> started;
        auto future = started.get_future();
        EXPECT_TRUE(queue.push(
            [&](bool run) {
                EXPECT_TRUE(run);
                started.set_value(Clock::now());
            },
            false));
        return future.get();
    };

    std::promise<Clock::time_point> quiet;
    ASSERT_TRUE(queue.push(turn(50ms, false, quiet), true));
    EXPECT_LT(startOfNext() - quiet.get_future().get(), 5s); // a rest would be 5 s

    std::promise<Clock::time_point> busy;
    ASSERT_TRUE(queue.push(turn(20ms, true, busy), true));
    EXPECT_GE(startOfNext() - busy.get_future().get(), 2s);

    std::promise<Clock::time_point> beforeKnown;
    ASSERT_TRUE(queue.push(turn(40ms, true, beforeKnown), true));
    const auto rested = beforeKnown.get_future().get(); // now resting for 4 s
    std::promise<Clock::time_point> known;
    ASSERT_TRUE(queue.push([&](bool) { known.set_value(Clock::now()); }, true));
    EXPECT_LT(known.get_future().get() - rested, 2s);
    EXPECT_GE(startOfNext() - rested, 3s);

    std::promise<Clock::time_point> long_;
    ASSERT_TRUE(queue.push(turn(100ms, true, long_), true));
    long_.get_future().wait(); // now resting for 10 s
    const auto stopping = Clock::now();
    queue.stop();
    EXPECT_LT(Clock::now() - stopping, 5s);
}

class StrangerGuessesTest : public ServedOfficeTest {};

// Strangers on many connections from eight addresses guess at once, again and again, while a
// counter that is logged in keeps asking and the operator's own counter logs in again. The
// counter gets every answer; the operator gets in at his first try; every guess is answered,
// as wrong, held back or busy; the busy ones are exactly those the queue refused, which never
// reached a password hash; and no two hashes ever ran at once.
TEST_F(StrangerGuessesTest, LoggedInCountersAreAnsweredAndExcessGuessesAreRefusedAtOnce) {
    backoffice::TcpServer::Options options;
    options.strangerQueue = 2;
    serve(options);
    WireClient counter(port(), 30s);
    ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
    {
        WireClient own(port(), 30s, "127.0.0.40");
        ASSERT_EQ(own.call(loginPacket("1004", "pass1004"))->code(), 0);
    }

    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::atomic<int> heldBack{0};
    std::atomic<int> busy{0};
    std::atomic<int> other{0};
    std::vector<std::thread> guessers;
    for (int a = 2; a < 10; ++a) {
        for (int c = 0; c < 4; ++c) {
            guessers.emplace_back([&, a, c] {
                const std::string source = "127.0.0." + std::to_string(a);
                WireClient guesser(port(), 30s, source.c_str());
                for (int i = 0; i < 50 && !stop; ++i) {
                    auto reply = guesser.call(
                        loginPacket("1004", "guess" + std::to_string(a * 1000 + c * 100 + i)));
                    if (!reply)
                        return;
                    const int code = reply->code();
                    (code == errors::wrongPassword       ? wrong
                     : code == errors::passwordThrottled ? heldBack
                     : code == errors::busy              ? busy
                                                         : other)++;
                }
            });
        }
    }
    int answered = 0;
    int failed = 0;
    for (int i = 0; i < 100; ++i) {
        auto reply = counter.call(configRequest());
        (reply && reply->code() == 0 ? answered : failed)++;
    }
    WireClient own(port(), 30s, "127.0.0.40");
    auto login = own.call(loginPacket("1004", "pass1004"));
    stop = true;
    for (std::thread& t : guessers)
        t.join();

    EXPECT_EQ(answered, 100);
    EXPECT_EQ(failed, 0);
    ASSERT_TRUE(login);
    EXPECT_EQ(login->code(), 0) << login->info();
    EXPECT_EQ(other.load(), 0);
    EXPECT_GT(busy.load(), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(busy.load()), server->strangerRequestsRefused());
    // Done: the guesses answered as wrong or held back, and the three logins.
    EXPECT_EQ(static_cast<std::uint64_t>(wrong.load() + heldBack.load() + 3),
              server->strangerRequestsDone());
    EXPECT_LE(server->peakStrangerQueue(), 2 * options.strangerQueue);
    EXPECT_EQ(backOffice->passwords().peakHashes(), 1u);
}

class StrangerHandshakeTest : public ServedOfficeTest {
protected:
    // The real back office over TLS, its logins of HeldLogins::heldOperator held.
    void serveHeld() {
        const std::string cert = dir.filePath("server.pem");
        const std::string key = dir.filePath("server.key");
        backoffice::makeSelfSignedCertificate(cert, key, {});
        office.reset();
        backOffice = std::make_shared<backoffice::BackOffice>(path);
        service = backoffice::serviceOf(backOffice);
        held = std::make_unique<HeldLogins>(*service);
        backoffice::TcpServer::Options options;
        // Deadlines far past anything a slow machine takes here: what is looked at is what
        // waits for what.
        options.frameTimeout = 120s;
        options.loginTimeout = 120s;
        options.certificateFile = cert;
        options.keyFile = key;
        server = std::make_unique<backoffice::TcpServer>(*held, options);
        thread = std::thread([this] { server->run(); });
    }
    void TearDown() override {
        if (held)
            held->letGo();
        ServedOfficeTest::TearDown();
    }
    std::unique_ptr<HeldLogins> held;
};

// A stranger's TLS handshake is the strangers' work: while their thread is busy (a login held
// in its password check), a new connection's handshake does not get through, and a counter
// logged in over TLS is answered all the same. Once the thread is free, the handshake ends and
// the new counter logs in on that connection.
TEST_F(StrangerHandshakeTest, AStrangersHandshakeWaitsForTheStrangersThreadNotForCounters) {
    serveHeld();
    TlsClient counter(port(), 30s, "127.0.0.1");
    ASSERT_TRUE(counter.handshake());
    ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);

    TlsClient holder(port(), 30s, "127.0.0.41");
    ASSERT_TRUE(holder.handshake());
    ASSERT_TRUE(holder.sendPacket(loginPacket(HeldLogins::heldOperator, "whatever")));
    ASSERT_TRUE(held->holding(30s));

    TlsClient stranger(port(), 300ms, "127.0.0.42");
    EXPECT_FALSE(stranger.handshake());
    int answered = 0;
    for (int i = 0; i < 20; ++i) {
        auto reply = counter.call(configRequest());
        answered += reply && reply->code() == 0;
    }
    EXPECT_EQ(answered, 20);
    EXPECT_FALSE(stranger.handshake());

    held->letGo();
    auto refused = holder.receive();
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->code(), 0);
    stranger.setWait(30s);
    ASSERT_TRUE(stranger.handshake());
    auto login = stranger.call(loginPacket("1002", "pass1002"));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->code(), 0) << login->info();
}
