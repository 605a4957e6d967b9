#pragma once
// Password guessing held off by throttling and a bound, never by a lock a stranger could
// set without an administrator to lift it. Every failed guess is one row, counted three
// ways within a window:
// - per address and operator: past a few, the address waits longer after each one before
//   it may guess at that operator again; only that operator's right password from there
//   clears this count;
// - per address, whoever was guessed at: a wide bound, since counters behind one router
//   share an address; no right password clears it;
// - per operator, from every address together: once his bound is used up only addresses
//   where his password verified before are heard, each for a small allowance of its own,
//   until the window forgets or an administrator releases him.
// A guess is recorded as failed before its password is checked, in one write transaction
// with the decision, so guesses that run at once can never check more than the bounds
// allow; a password that verifies takes its record back. On IPv6 an address is its /64.

#include "Database.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace backoffice {

struct ThrottleOptions {
    // Failed guesses from one address at one operator that cost nothing; each after them
    // makes the address wait, the first time firstDelay, then twice as long each time up to
    // maxDelay.
    int freeFailures = 3;
    std::chrono::milliseconds firstDelay{1000};
    std::chrono::milliseconds maxDelay{std::chrono::minutes(5)};
    // Failed guesses from one address at anyone before the address itself waits as above:
    // few, since every new address brings this many, each a password hash.
    int freeFailuresPerSource = 10;
    // Guesses at one operator from all addresses together within the window.
    int guessesPerOperator = 100;
    // Guesses at an operator that one of his own addresses may still make, within the
    // window, once his bound is used up.
    int knownSourceGuesses = 5;
    std::chrono::milliseconds window{std::chrono::hours(1)};
};

// Where an operator's guesses stand just after a failed one, for the journal.
struct GuessStanding {
    std::int64_t pairFailures = 0;     // from the address at the operator
    std::chrono::milliseconds wait{0}; // before the address may guess at him again
    std::int64_t operatorGuesses = 0;  // at the operator from all addresses
};

class PasswordThrottle {
public:
    explicit PasswordThrottle(ThrottleOptions options) : options_(options) {}

    // The address that guesses are counted by: an IPv6 address's /64 (an IPv4 address
    // mapped into IPv6 is the IPv4 address), anything else as it stands.
    static std::string addressOf(const std::string& source);

    // Refuses (a ServiceError that says why and for how long) a guess the address's wait
    // or the operator's bound holds back; otherwise records it as a failed guess and gives
    // its number. Runs inside the caller's write transaction.
    std::int64_t admit(Database& db, const std::string& operatorNo, const std::string& address,
                       std::int64_t nowMs) const;
    // The same decision without recording anything: for a password known to be right
    // without checking it again, so that it says nothing the bounds would hide.
    void check(Database& db, const std::string& operatorNo, const std::string& address,
               std::int64_t nowMs) const;
    // The guess verified: its record (none for 0) is taken back, the count of the address
    // at this operator cleared and the address remembered as the operator's own. Runs
    // inside the caller's write transaction.
    void verified(Database& db, std::int64_t guessId, const std::string& operatorNo,
                  const std::string& address, std::int64_t nowMs) const;
    // The guess was found wrong: its time becomes now, so that the wait it brings starts
    // when its answer goes out, not while the slow check ran. Runs inside the caller's
    // write transaction.
    void failed(Database& db, std::int64_t guessId, std::int64_t nowMs) const;
    // Whether a password that verified from the address has anything to record: a count
    // to clear, or an address not yet remembered as the operator's own.
    bool changesOnVerified(Database& db, const std::string& operatorNo, const std::string& address,
                           std::int64_t nowMs) const;

    GuessStanding standing(Database& db, const std::string& operatorNo, const std::string& address,
                           std::int64_t nowMs) const;
    // Forgets every guess at the operator, so that his bound and every address's wait for
    // him start afresh; gives how many there were. Runs inside the caller's write
    // transaction. The one way an administrator lifts a bound: it needs no options.
    static std::int64_t release(Database& db, const std::string& operatorNo);

    const ThrottleOptions& options() const { return options_; }

private:
    std::int64_t delayAfter(std::int64_t failuresPastFree) const;
    ThrottleOptions options_;
};

} // namespace backoffice
