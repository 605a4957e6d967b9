#pragma once
// Operator passwords: stored as libsodium password hashes. A verification is slow on
// purpose, so a password that verified once is remembered (as a keyed digest, never in
// clear) for later requests of the same operator, and only a bounded number of
// verifications run at once: guessing never takes every worker. Each runs on a thread of
// its own below the server's others, the caller waiting for it: where a counter's request
// and a hash want the same core, the request gets most of it.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace backoffice {

// How far below the process's priority slow work others asked for runs (password hashes,
// strangers' handshakes): in nice values, at 10 it gets about a tenth of a core where a
// thread of the process's own priority wants it too, and all of it where none does.
constexpr int slowWorkPriorityDrop = 10;
// Runs the calling thread `by` nice levels below the process's main thread (lowering needs
// no privilege). Where it cannot, the thread runs as it is, and the log says so once.
void lowerThreadPriority(int by);

class Passwords {
public:
    // At most maxHashes verifications at once; a request waits up to hashWait for a turn.
    Passwords(std::size_t maxHashes, std::chrono::milliseconds hashWait);
    static std::string hash(std::string_view password);

    // Whether this password verified before for the operator: no hash needed.
    bool remembered(const std::string& operatorNo, const std::string& storedHash,
                    std::string_view password);

    // A turn at the slow verification, held until it goes out of scope; empty when none
    // came free within the wait.
    class Turn {
    public:
        Turn() = default;
        explicit Turn(Passwords* owner) : owner_(owner) {}
        Turn(Turn&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
        Turn& operator=(Turn&&) = delete;
        ~Turn();
        explicit operator bool() const { return owner_ != nullptr; }

    private:
        Passwords* owner_ = nullptr;
    };
    Turn takeTurn();

    // The slow verification, during a turn; a password that verifies is remembered.
    bool verify(const std::string& operatorNo, const std::string& storedHash,
                std::string_view password);

    // The most verifications that ran at once.
    std::size_t peakHashes() const;

private:
    std::string digest(std::string_view storedHash, std::string_view password) const;

    mutable std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t maxHashes_;
    std::chrono::milliseconds hashWait_;
    std::size_t hashing_ = 0;
    std::size_t peakHashes_ = 0;
    std::string key_; // random per process
    std::map<std::string, std::string> verified_;
};

} // namespace backoffice
