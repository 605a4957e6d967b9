#include "StrangerQueue.h"

#include <pthread.h>

#include <algorithm>

namespace backoffice {

StrangerQueue::StrangerQueue(Bounds bounds) : bounds_(bounds), thread_([this] { serve(); }) {}

StrangerQueue::~StrangerQueue() {
    stop();
}

void StrangerQueue::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    pushed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    // Dropped here, not on the thread: what a step holds may only go where its owner is.
    std::deque<Step> dropped;
    std::deque<Step> droppedUnknown;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(knownSteps_);
        droppedUnknown.swap(unknownSteps_);
    }
}

bool StrangerQueue::post(Step step, bool known) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return false;
        (known ? knownSteps_ : unknownSteps_).push_back(std::move(step));
    }
    pushed_.notify_one();
    return true;
}

bool StrangerQueue::push(Work work, bool known) {
    {
        std::lock_guard lock(mutex_);
        auto& queue = known ? known_ : unknown_;
        if (stopping_ || queue.size() >= bounds_.length) {
            ++refusedFull_;
            return false;
        }
        queue.push_back({std::move(work), Clock::now(), rested_});
        peakWaiting_ = std::max(peakWaiting_, known_.size() + unknown_.size());
    }
    pushed_.notify_one();
    return true;
}

namespace {

void runSteps(std::deque<StrangerQueue::Step>& round) {
    for (StrangerQueue::Step& step : round) {
        step();
        step = nullptr; // what it holds goes before the next one runs
    }
}

} // namespace

void StrangerQueue::serve() {
    ::pthread_setname_np(::pthread_self(), "marlo-strangers");
    lowerThreadPriority(bounds_.lowerPriority);
    std::unique_lock lock(mutex_);
    // During a rest only known addresses' steps and work go: they do not end it, or a
    // client that logs in again and again from a known address would end every rest and
    // give the strangers' work a whole core.
    const auto knownReady = [&] { return stopping_ || !knownSteps_.empty() || !known_.empty(); };
    for (;;) {
        if (resting()) {
            if (!pushed_.wait_until(lock, restUntil_, knownReady))
                continue; // the rest is over
        } else {
            pushed_.wait(
                lock, [&] { return knownReady() || !unknownSteps_.empty() || !unknown_.empty(); });
        }
        const bool strangersSteps = !unknownSteps_.empty() && !resting();
        if (!stopping_ && (!knownSteps_.empty() || strangersSteps)) {
            // The steps waiting now, then the next work: steps that come meanwhile wait for
            // the round after, so a stream of them never stops the work.
            std::deque<Step> known;
            std::deque<Step> unknown;
            known.swap(knownSteps_);
            if (strangersSteps)
                unknown.swap(unknownSteps_);
            const auto start = Clock::now();
            const std::uint64_t asked = countersAsked_.load(std::memory_order_relaxed);
            lock.unlock();
            runSteps(known);
            const Clock::time_point lastAsked(
                Clock::duration(lastAsked_.load(std::memory_order_relaxed)));
            if (!unknown.empty() && lastAsked != Clock::time_point() &&
                Clock::now() - lastAsked < bounds_.askingWithin)
                handshakes_.run([&] { runSteps(unknown); });
            else
                runSteps(unknown);
            lock.lock();
            giveWay(start, asked);
        }
        // Once stopping, what waits is refused at once, rest or not.
        if (known_.empty() && (unknown_.empty() || (!stopping_ && resting()))) {
            if (stopping_)
                return;
            continue;
        }
        auto& queue = known_.empty() ? unknown_ : known_;
        Waiting next = std::move(queue.front());
        queue.pop_front();
        // A lone login that came while the thread rested is not refused for the rest.
        const bool late = &queue == &unknown_ &&
                          Clock::now() - next.since - (rested_ - next.restedBefore) > bounds_.wait;
        const bool run = !stopping_ && !late;
        done_ += run ? 1 : 0;
        refusedLate_ += late ? 1 : 0;
        const auto start = Clock::now();
        const std::uint64_t asked = countersAsked_.load(std::memory_order_relaxed);
        lock.unlock();
        next.work(run);
        next.work = nullptr; // what it holds goes outside the lock
        lock.lock();
        if (run)
            giveWay(start, asked);
    }
}

void StrangerQueue::giveWay(Clock::time_point start, std::uint64_t asked) {
    // Even at a lower priority, a hash's tens of megabytes push the counters' work out of
    // the caches: the rest, not the priority, is what keeps their answers quick.
    if (bounds_.restPerTurn <= 0 || countersAsked_.load(std::memory_order_relaxed) == asked)
        return;
    const auto now = Clock::now();
    const auto until =
        now + std::min<Clock::duration>((now - start) * bounds_.restPerTurn, bounds_.maxRest);
    if (!resting())
        restFrom_ = now;
    restUntil_ = std::max(restUntil_, until);
}

bool StrangerQueue::resting() {
    if (restUntil_ == Clock::time_point())
        return false;
    if (Clock::now() < restUntil_)
        return true;
    rested_ += restUntil_ - restFrom_;
    restUntil_ = Clock::time_point();
    return false;
}

std::uint64_t StrangerQueue::done() const {
    std::lock_guard lock(mutex_);
    return done_;
}
std::uint64_t StrangerQueue::refusedFull() const {
    std::lock_guard lock(mutex_);
    return refusedFull_;
}
std::uint64_t StrangerQueue::refusedLate() const {
    std::lock_guard lock(mutex_);
    return refusedLate_;
}
std::size_t StrangerQueue::peakWaiting() const {
    std::lock_guard lock(mutex_);
    return peakWaiting_;
}

} // namespace backoffice
