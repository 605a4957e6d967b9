#pragma once
// Password guessing held off by throttling, never by a lock a stranger could set on
// someone else: failed guesses are counted per source address (past a few, the source
// waits longer after each one) and per operator (a bounded number within a window from all
// sources together; once they are used up only sources where the operator's password
// verified before are heard). A guess is recorded as failed before its password is
// checked, in one write transaction with the decision, so guesses that run at once can
// never check more than the bounds allow; a password that verifies takes its record back.

#include "Database.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace backoffice {

struct ThrottleOptions {
    // Failed guesses from one source that cost nothing; each after them makes the source
    // wait, the first time firstDelay, then twice as long each time up to maxDelay.
    int freeFailures = 3;
    std::chrono::milliseconds firstDelay{1000};
    std::chrono::milliseconds maxDelay{std::chrono::minutes(5)};
    // Guesses at one operator from all sources together within the window.
    int guessesPerOperator = 100;
    std::chrono::milliseconds window{std::chrono::hours(1)};
};

class PasswordThrottle {
public:
    explicit PasswordThrottle(ThrottleOptions options) : options_(options) {}

    // Refuses (a ServiceError that says why and for how long) a guess the source's wait or
    // the operator's bound holds back; otherwise records it as a failed guess and gives
    // its number. Runs inside the caller's write transaction.
    std::int64_t admit(Database& db, const std::string& operatorNo, const std::string& source,
                       std::int64_t nowMs) const;
    // The same decision without recording anything: for a password known to be right
    // without checking it again, so that it says nothing the bounds would hide.
    void check(Database& db, const std::string& operatorNo, const std::string& source,
               std::int64_t nowMs) const;
    // The guess verified: its record (none for 0) is taken back, the source's count cleared
    // and the source remembered as the operator's own. Runs inside the caller's write
    // transaction.
    void verified(Database& db, std::int64_t guessId, const std::string& operatorNo,
                  const std::string& source, std::int64_t nowMs) const;

    // Whether a password that verified from the source has anything to record: a count
    // to clear, or a source not yet remembered as the operator's own.
    bool changesOnVerified(Database& db, const std::string& operatorNo,
                           const std::string& source) const;

    const ThrottleOptions& options() const { return options_; }

private:
    ThrottleOptions options_;
};

} // namespace backoffice
