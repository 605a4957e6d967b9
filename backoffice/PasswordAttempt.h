#pragma once
// One password attempt, owned from start to end: the password the operator showed before,
// the throttle's decision, a turn at the slow check, the check itself and what it leaves
// behind. The outcome says whether the password was right or why it was refused, and gives
// the facts to journal and how long the connection should take no further request.

#include "Database.h"
#include "PasswordThrottle.h"
#include "Passwords.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace backoffice {

struct PasswordAttempt {
    enum class Result { Right, Wrong, Refused, Busy };
    Result result = Result::Right;
    // Refused or busy: the words for the counter.
    std::string refusal;
    // Refused: whether this refusal is to be journaled (once a minute per address and
    // operator, so that a stranger who keeps trying cannot make every refusal a write).
    bool journalRefusal = false;
    // Wrong: where the operator's guesses stand now, and whether this one used up his
    // bound.
    GuessStanding standing;
    bool boundReached = false;
    std::chrono::milliseconds holdBack{0};
};

class PasswordAttempts {
public:
    PasswordAttempts(ThrottleOptions throttle, std::size_t maxHashes,
                     std::chrono::milliseconds hashWait);

    // The attempt of `source` (the peer's address) at the operator's password.
    // `ownSession`: the session is logged in as this very operator, so a password it has
    // shown right before is taken at once: nobody else's failures slow it. The throttle's
    // writes are committed here, each in its own transaction, before the slow check.
    PasswordAttempt attempt(Database& db, const std::string& operatorNo,
                            const std::string& storedHash, std::string_view password,
                            const std::string& source, bool ownSession);

    Passwords& passwords() { return passwords_; }
    const ThrottleOptions& options() const { return throttle_.options(); }

    // Whether a refusal of the source's login as the operator is to be journaled: once a
    // minute per address and operator, and never more pairs at once than are kept.
    bool refusalToJournal(const std::string& source, const std::string& operatorNo);

private:
    PasswordThrottle throttle_;
    Passwords passwords_;
    static constexpr std::size_t maxRefusalsKept = 1024;
    static constexpr std::chrono::minutes refusalQuiet{1};
    std::mutex refusalsMutex_;
    std::map<std::pair<std::string, std::string>, std::int64_t> refusalsJournaled_; // ms
};

} // namespace backoffice
