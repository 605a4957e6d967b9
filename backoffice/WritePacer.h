#pragma once
// How fast one operator may make the back office write: changes and review demands, each
// of which stores a row or two and journal entries. A counter makes a few a
// minute; past a burst, one operator's writes are paced to a steady rate from all his
// counters together, so no one operator grows the database without bound.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace backoffice {

struct WritePace {
    double burst = 20;
    double perMinute = 30;
};

class WritePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit WritePacer(WritePace pace) : pace_(pace) {}

    // Whether the operator may write now; counts the write when he may. From any thread.
    bool take(const std::string& operatorNo, Clock::time_point now = Clock::now());

private:
    struct Allowance {
        double writes = 0;
        Clock::time_point refilled;
    };
    WritePace pace_;
    std::mutex mutex_;
    // One entry per operator who wrote: they are the operators the database holds.
    std::unordered_map<std::string, Allowance> allowances_;
};

} // namespace backoffice
