#include "PasswordAttempt.h"

#include "Request.h"

namespace backoffice {

namespace {

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

PasswordAttempts::PasswordAttempts(ThrottleOptions throttle, std::size_t maxHashes,
                                   std::chrono::milliseconds hashWait)
    : throttle_(throttle), passwords_(maxHashes, hashWait) {}

bool PasswordAttempts::refusalToJournal(const std::string& source, const std::string& operatorNo) {
    const std::string address = PasswordThrottle::addressOf(source);
    const std::int64_t now = nowMs();
    const std::int64_t quietMs = std::chrono::milliseconds(refusalQuiet).count();
    std::lock_guard lock(refusalsMutex_);
    if (refusalsJournaled_.size() >= maxRefusalsKept)
        std::erase_if(refusalsJournaled_, [&](const auto& r) { return r.second <= now - quietMs; });
    auto [at, fresh] = refusalsJournaled_.try_emplace({address, operatorNo}, now);
    if (!fresh && at->second > now - quietMs)
        return false;
    if (fresh && refusalsJournaled_.size() > maxRefusalsKept) {
        refusalsJournaled_.erase(at);
        return false;
    }
    at->second = now;
    return true;
}

PasswordAttempt PasswordAttempts::attempt(Database& db, const std::string& operatorNo,
                                          const std::string& storedHash, std::string_view password,
                                          const std::string& source, bool ownSession) {
    const std::string address = PasswordThrottle::addressOf(source);
    PasswordAttempt out;
    const auto refused = [&](const ServiceError& refusal) {
        out.result = PasswordAttempt::Result::Refused;
        out.refusal = refusal.what();
        out.journalRefusal = refusalToJournal(source, operatorNo);
        out.holdBack = throttle_.options().firstDelay;
        return out;
    };
    const bool remembered = passwords_.remembered(operatorNo, storedHash, password);
    if (remembered && ownSession)
        return out;
    // A guess the throttle holds back costs neither a turn at the hash nor a write; a
    // password known to be right is held to the same decision, so that it says nothing the
    // bounds would hide.
    try {
        throttle_.check(db, operatorNo, address, nowMs());
    } catch (const ServiceError& refusal) {
        if (refusal.errorNo() != errors::passwordThrottled)
            throw;
        return refused(refusal);
    }
    if (remembered) {
        if (throttle_.changesOnVerified(db, operatorNo, address, nowMs())) {
            Transaction t(db);
            throttle_.verified(db, 0, operatorNo, address, nowMs());
            t.commit();
        }
        return out;
    }
    const Passwords::Turn turn = passwords_.takeTurn();
    if (!turn) {
        out.result = PasswordAttempt::Result::Busy;
        out.refusal = "后台繁忙，请稍后再试";
        return out;
    }
    std::int64_t guess = 0;
    try {
        Transaction t(db);
        guess = throttle_.admit(db, operatorNo, address, nowMs());
        t.commit();
    } catch (const ServiceError& refusal) {
        if (refusal.errorNo() != errors::passwordThrottled)
            throw;
        return refused(refusal);
    }
    if (!passwords_.verify(operatorNo, storedHash, password)) {
        // The guess was counted as failed before its check.
        {
            Transaction t(db);
            throttle_.failed(db, guess, nowMs());
            t.commit();
        }
        out.result = PasswordAttempt::Result::Wrong;
        out.standing = throttle_.standing(db, operatorNo, address, nowMs());
        out.boundReached = out.standing.operatorGuesses == throttle_.options().guessesPerOperator;
        return out;
    }
    Transaction t(db);
    throttle_.verified(db, guess, operatorNo, address, nowMs());
    t.commit();
    return out;
}

} // namespace backoffice
