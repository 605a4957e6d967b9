#pragma once
// The work of connections nobody has logged in on (their logins, each with a slow password
// hash), done one at a time on a thread of its own: strangers get at most one core, and the
// logged-in counters' workers the rest. The thread runs a little below the server's others,
// so that where a counter's thread and it want the same core, the counter's gets most of
// it; not at the lowest priority, where the strangers' work, a room's own counter logging in
// among it, would all but stop while anything else on the machine runs. The queue is short
// and its wait bounded: work that cannot start soon is refused at once rather than queued,
// so a flood of guesses costs the server a refusal each, not a hash each. Work from an
// address where a login succeeded lately (a room's own counter) goes before the others' and
// is never refused for its wait. The same thread takes the strangers' short network work,
// the steps of their TLS handshakes (a key exchange and a signature each): all that
// strangers ask of the server's CPU shares this one core, and each hash lets the steps
// waiting before it through. While logged-in counters are asking, the steps of unknown
// addresses run on a thread at the idle scheduling class, this one waiting: many and short,
// they would otherwise hold a core a counter's request has just asked for. Otherwise, and
// for known addresses always, they run here, as logins do: the idle class gets next to
// nothing of a machine kept busy by other work, and a room's new counter must not wait for
// that work to end before it can log in.

#include "IdleThread.h"
#include "Passwords.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace backoffice {

class StrangerQueue {
public:
    using Clock = std::chrono::steady_clock;
    // Called on the queue's thread: `run` false when the work waited too long or the queue
    // is stopping, and is to be refused rather than done.
    using Work = std::function<void(bool run)>;
    // A short step of a stranger's network work, never refused while the queue runs.
    using Step = std::function<void()>;

    struct Bounds {
        // Work waiting, from unknown addresses and from known ones, each.
        std::size_t length = 8;
        // Work from an unknown address that waited longer behind other strangers' work is
        // refused; the thread's rests for the counters do not count.
        std::chrono::milliseconds wait{1000};
        // How far below the process's priority the thread runs.
        int lowerPriority = slowWorkPriorityDrop;
        // After a turn of strangers' work (a hash, or the handshake steps waiting) during
        // which a logged-in counter asked, the thread rests this many times as long as the
        // turn took, at most maxRest: while counters work, strangers get a quarter of a
        // core; when none asks, all of one. Known steps and work go during a rest and do
        // not end it.
        int restPerTurn = 3;
        std::chrono::milliseconds maxRest{1000};
        // Counters that asked within this are asking: unknown addresses' handshake steps
        // wait for a core nobody else wants.
        std::chrono::milliseconds askingWithin{1000};
    };

    explicit StrangerQueue(Bounds bounds);
    ~StrangerQueue();
    // Refuses what still waits and takes no more, then joins the thread; again, does nothing.
    void stop();
    StrangerQueue(const StrangerQueue&) = delete;
    StrangerQueue& operator=(const StrangerQueue&) = delete;

    // False, with `work` not taken, when the queue has no room for it: the caller refuses
    // it at once.
    bool push(Work work, bool known);
    // Runs `step` among the strangers' work, after the steps of its kind (`known` or not)
    // before it and before the next work. False, with `step` not taken, once the queue
    // stops: the caller does without it.
    bool post(Step step, bool known);
    // A logged-in counter's request came in: the strangers' work gives way to it for a
    // while. Any thread; costs an atomic increment and a clock read.
    void countersAsked() {
        countersAsked_.fetch_add(1, std::memory_order_relaxed);
        lastAsked_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    }

    // Work done, refused for a full queue, refused for its wait; the most that waited at once.
    std::uint64_t done() const;
    std::uint64_t refusedFull() const;
    std::uint64_t refusedLate() const;
    std::size_t peakWaiting() const;

private:
    struct Waiting {
        Work work;
        Clock::time_point since;
        Clock::duration restedBefore; // the thread's rests until then
    };
    void serve();
    // Rests after a turn begun at `start` if a counter asked since `asked` was read: an
    // unknown address's steps and work wait until the rest is over, or a stop.
    void giveWay(Clock::time_point start, std::uint64_t asked);
    // Whether a rest is under way; one that is over is added to rested_.
    bool resting();

    Bounds bounds_;
    mutable std::mutex mutex_;
    std::condition_variable pushed_;
    // Each stranger has at most one step waiting, so the pool of strangers bounds these.
    std::deque<Step> knownSteps_;
    std::deque<Step> unknownSteps_;
    std::deque<Waiting> known_;
    std::deque<Waiting> unknown_;
    bool stopping_ = false;
    std::uint64_t done_ = 0;
    std::uint64_t refusedFull_ = 0;
    std::uint64_t refusedLate_ = 0;
    std::size_t peakWaiting_ = 0;
    std::atomic<std::uint64_t> countersAsked_{0};
    // When a counter last asked, in ticks of Clock since its epoch; none yet, the epoch.
    std::atomic<Clock::rep> lastAsked_{0};
    // All the thread has rested so far, and the rest under way: none while restUntil_ is
    // the epoch.
    Clock::duration rested_{};
    Clock::time_point restFrom_;
    Clock::time_point restUntil_;
    IdleThread handshakes_{"marlo-handshake"};
    std::thread thread_; // last: started once the rest is built
};

} // namespace backoffice
