#pragma once
// The connections nobody has logged in on yet (strangers), counted per address and in all,
// and the addresses where a login succeeded lately. It decides whether a new connection is
// taken: a stranger costs little, so the pool holds thousands, but each address only a
// few; past a threshold a newcomer is refused at random, more often as the pool fills, so
// no pattern of reconnecting keeps every newcomer out; and an address known for a login
// has room that strangers from other addresses cannot take. On IPv6 an address is its /64,
// as it is for password guesses.

#include <chrono>
#include <cstddef>
#include <random>
#include <string>
#include <unordered_map>

namespace backoffice {

class StrangerPool {
public:
    using Clock = std::chrono::steady_clock;

    struct Bounds {
        std::size_t room = 4096;
        std::size_t perSource = 4;
        double earlyDropFrom = 0.5;
        double earlyDropChance = 0.3;
        std::chrono::seconds knownFor{std::chrono::hours(12)};
        std::size_t knownRoom = 256;
        std::size_t perKnownSource = 16;
    };

    // What admit() decided; a taken stranger is let go with the same.
    struct Admission {
        bool taken = false;
        bool known = false;
    };

    explicit StrangerPool(Bounds bounds);

    // Counts a new connection from `source` in, or refuses it.
    Admission admit(const std::string& source, Clock::time_point now);
    // A stranger taken with `admission` has logged in or gone.
    void release(const std::string& source, Admission admission);
    // A login succeeded from `source`.
    void loggedIn(const std::string& source, Clock::time_point now);

    std::size_t room() const { return bounds_.room; }
    std::size_t strangers() const { return total_; }

private:
    bool known(const std::string& address, Clock::time_point now) const;
    // What strangers from addresses not known may take of the pool.
    std::size_t strangersRoom() const;

    Bounds bounds_;
    std::size_t total_ = 0;
    std::size_t unknown_ = 0;
    std::unordered_map<std::string, std::size_t> perSource_;
    std::unordered_map<std::string, Clock::time_point> known_;
    std::size_t knownPruneAt_ = 1024;
    std::minstd_rand random_;
    std::uniform_real_distribution<double> chance_{0.0, 1.0};
};

} // namespace backoffice
