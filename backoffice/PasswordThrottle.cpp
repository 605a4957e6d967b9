#include "PasswordThrottle.h"

#include "Request.h"

#include <arpa/inet.h>

#include <algorithm>

namespace backoffice {

namespace {

std::string waitText(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(1, (ms + 999) / 1000);
    if (seconds < 120)
        return std::to_string(seconds) + "秒";
    return std::to_string((seconds + 59) / 60) + "分钟";
}

struct Count {
    std::int64_t failures = 0;
    std::int64_t lastAtMs = 0;
};

Count countOf(Statement s) {
    Count c;
    if (s.step()) {
        c.failures = s.integer(0);
        c.lastAtMs = s.isNull(1) ? 0 : s.integer(1);
    }
    return c;
}

Count pairCount(Database& db, const std::string& operatorNo, const std::string& address,
                std::int64_t since) {
    Statement s = db.prepare("SELECT count(*), max(at_ms) FROM password_guess WHERE source = ? AND "
                             "operator_no = ? AND cleared = 0 AND at_ms > ?");
    s.bind(1, address).bind(2, operatorNo).bind(3, since);
    return countOf(std::move(s));
}

} // namespace

std::string PasswordThrottle::addressOf(const std::string& source) {
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, source.c_str(), bytes) != 1)
        return source;
    static const unsigned char v4Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    char text[INET6_ADDRSTRLEN];
    if (std::equal(v4Mapped, v4Mapped + 12, bytes)) {
        inet_ntop(AF_INET, bytes + 12, text, sizeof text);
        return text;
    }
    std::fill(bytes + 8, bytes + 16, 0);
    inet_ntop(AF_INET6, bytes, text, sizeof text);
    return std::string(text) + "/64";
}

std::int64_t PasswordThrottle::delayAfter(std::int64_t failuresPastFree) const {
    const std::int64_t doublings = std::min<std::int64_t>(failuresPastFree - 1, 30);
    return std::min<std::int64_t>(options_.firstDelay.count() << doublings,
                                  options_.maxDelay.count());
}

void PasswordThrottle::check(Database& db, const std::string& operatorNo,
                             const std::string& address, std::int64_t nowMs) const {
    const std::int64_t since = nowMs - options_.window.count();
    const auto waitFor = [&](const Count& c, int free) {
        if (c.failures <= free)
            return;
        const std::int64_t nextAt = c.lastAtMs + delayAfter(c.failures - free);
        if (nextAt > nowMs)
            throw ServiceError(errors::passwordThrottled,
                               "密码错误次数过多，请" + waitText(nextAt - nowMs) + "后再试");
    };
    waitFor(pairCount(db, operatorNo, address, since), options_.freeFailures);
    {
        Statement s = db.prepare(
            "SELECT count(*), max(at_ms) FROM password_guess WHERE source = ? AND at_ms > ?");
        s.bind(1, address).bind(2, since);
        waitFor(countOf(std::move(s)), options_.freeFailuresPerSource);
    }
    Statement guesses =
        db.prepare("SELECT count(*), count(CASE WHEN source = ? THEN 1 END) FROM password_guess "
                   "WHERE operator_no = ? AND at_ms > ?");
    guesses.bind(1, address).bind(2, operatorNo).bind(3, since);
    guesses.step();
    if (guesses.integer(0) < options_.guessesPerOperator)
        return;
    Statement known =
        db.prepare("SELECT 1 FROM operator_source WHERE operator_no = ? AND source = ?");
    known.bind(1, operatorNo).bind(2, address);
    if (known.step() && guesses.integer(1) < options_.knownSourceGuesses)
        return;
    throw ServiceError(errors::passwordThrottled,
                       "操作员[" + operatorNo +
                           "]近期密码错误次数过多，请在本人常用的柜台登录，或请管理员解除限制");
}

std::int64_t PasswordThrottle::admit(Database& db, const std::string& operatorNo,
                                     const std::string& address, std::int64_t nowMs) const {
    const std::int64_t since = nowMs - options_.window.count();
    // What the window has forgotten goes, so the table stays as small as the bounds.
    db.prepare("DELETE FROM password_guess WHERE operator_no = ? AND at_ms <= ?")
        .bind(1, operatorNo)
        .bind(2, since)
        .run();
    db.prepare("DELETE FROM password_guess WHERE source = ? AND at_ms <= ?")
        .bind(1, address)
        .bind(2, since)
        .run();
    check(db, operatorNo, address, nowMs);
    db.prepare("INSERT INTO password_guess (operator_no, source, at_ms) VALUES (?, ?, ?)")
        .bind(1, operatorNo)
        .bind(2, address)
        .bind(3, nowMs)
        .run();
    return db.lastInsertId();
}

void PasswordThrottle::verified(Database& db, std::int64_t guessId, const std::string& operatorNo,
                                const std::string& address, std::int64_t nowMs) const {
    if (guessId != 0)
        db.prepare("DELETE FROM password_guess WHERE guess_id = ?").bind(1, guessId).run();
    db.prepare("UPDATE password_guess SET cleared = 1 WHERE source = ? AND operator_no = ? AND "
               "cleared = 0")
        .bind(1, address)
        .bind(2, operatorNo)
        .run();
    db.prepare("INSERT INTO operator_source (operator_no, source, last_at_ms) VALUES (?, ?, ?) "
               "ON CONFLICT (operator_no, source) DO UPDATE SET last_at_ms = excluded.last_at_ms")
        .bind(1, operatorNo)
        .bind(2, address)
        .bind(3, nowMs)
        .run();
}

void PasswordThrottle::failed(Database& db, std::int64_t guessId, std::int64_t nowMs) const {
    db.prepare("UPDATE password_guess SET at_ms = ? WHERE guess_id = ?")
        .bind(1, nowMs)
        .bind(2, guessId)
        .run();
}

bool PasswordThrottle::changesOnVerified(Database& db, const std::string& operatorNo,
                                         const std::string& address, std::int64_t nowMs) const {
    if (pairCount(db, operatorNo, address, nowMs - options_.window.count()).failures > 0)
        return true;
    Statement known =
        db.prepare("SELECT 1 FROM operator_source WHERE operator_no = ? AND source = ?");
    known.bind(1, operatorNo).bind(2, address);
    return !known.step();
}

GuessStanding PasswordThrottle::standing(Database& db, const std::string& operatorNo,
                                         const std::string& address, std::int64_t nowMs) const {
    const std::int64_t since = nowMs - options_.window.count();
    GuessStanding out;
    const Count pair = pairCount(db, operatorNo, address, since);
    out.pairFailures = pair.failures;
    if (pair.failures > options_.freeFailures)
        out.wait = std::chrono::milliseconds(std::max<std::int64_t>(
            0, pair.lastAtMs + delayAfter(pair.failures - options_.freeFailures) - nowMs));
    Statement s =
        db.prepare("SELECT count(*) FROM password_guess WHERE operator_no = ? AND at_ms > ?");
    s.bind(1, operatorNo).bind(2, since);
    if (s.step())
        out.operatorGuesses = s.integer(0);
    return out;
}

std::int64_t PasswordThrottle::release(Database& db, const std::string& operatorNo) {
    db.prepare("DELETE FROM password_guess WHERE operator_no = ?").bind(1, operatorNo).run();
    return db.changes();
}

} // namespace backoffice
