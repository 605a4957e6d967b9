// The strangers' queue on its own, and the server over loopback while strangers' password
// guesses flood it: the logged-in counters are answered, the strangers' guesses run one at a
// time, and what the queue has no room for is refused as busy instead of waiting.

#include "WireClient.h"

#include "ServedOfficeTest.h"
#include "StrangerQueue.h"

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

} // namespace

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
