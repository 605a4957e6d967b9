#include "PasswordThrottle.h"

#include "Request.h"

#include <algorithm>

namespace backoffice {

namespace {

std::string waitText(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(1, (ms + 999) / 1000);
    if (seconds < 120)
        return std::to_string(seconds) + "秒";
    return std::to_string((seconds + 59) / 60) + "分钟";
}

} // namespace

void PasswordThrottle::check(Database& db, const std::string& operatorNo, const std::string& source,
                             std::int64_t nowMs) const {
    const std::int64_t since = nowMs - options_.window.count();
    {
        Statement s =
            db.prepare("SELECT next_at_ms FROM guess_source WHERE source = ? AND last_at_ms > ?");
        s.bind(1, source).bind(2, since);
        if (s.step() && s.integer(0) > nowMs)
            throw ServiceError(errors::passwordThrottled,
                               "密码错误次数过多，请" + waitText(s.integer(0) - nowMs) + "后再试");
    }
    Statement guesses = db.prepare("SELECT count(*), min(at_ms) FROM password_guess "
                                   "WHERE operator_no = ? AND at_ms > ?");
    guesses.bind(1, operatorNo).bind(2, since);
    guesses.step();
    if (guesses.integer(0) < options_.guessesPerOperator)
        return;
    Statement known =
        db.prepare("SELECT 1 FROM operator_source WHERE operator_no = ? AND source = ?");
    known.bind(1, operatorNo).bind(2, source);
    if (known.step())
        return;
    throw ServiceError(errors::passwordThrottled,
                       "操作员[" + operatorNo +
                           "]近期密码错误次数过多，请在本人常用的柜台登录，或" +
                           waitText(guesses.integer(1) - since) + "后再试");
}

std::int64_t PasswordThrottle::admit(Database& db, const std::string& operatorNo,
                                     const std::string& source, std::int64_t nowMs) const {
    const std::int64_t since = nowMs - options_.window.count();
    // What the window has forgotten goes, so the tables stay as small as the bounds.
    db.prepare("DELETE FROM password_guess WHERE operator_no = ? AND at_ms <= ?")
        .bind(1, operatorNo)
        .bind(2, since)
        .run();
    db.prepare("DELETE FROM guess_source WHERE last_at_ms <= ?").bind(1, since).run();
    check(db, operatorNo, source, nowMs);

    std::int64_t failures = 1;
    {
        Statement s = db.prepare("SELECT failures FROM guess_source WHERE source = ?");
        s.bind(1, source);
        if (s.step())
            failures += s.integer(0);
    }
    std::int64_t nextAt = 0;
    if (failures > options_.freeFailures) {
        const std::int64_t doublings =
            std::min<std::int64_t>(failures - options_.freeFailures - 1, 30);
        const std::int64_t wait = std::min<std::int64_t>(options_.firstDelay.count() << doublings,
                                                         options_.maxDelay.count());
        nextAt = nowMs + wait;
    }
    db.prepare("INSERT INTO guess_source (source, failures, last_at_ms, next_at_ms) "
               "VALUES (?, ?, ?, ?) ON CONFLICT (source) DO UPDATE SET failures = "
               "excluded.failures, last_at_ms = excluded.last_at_ms, next_at_ms = "
               "excluded.next_at_ms")
        .bind(1, source)
        .bind(2, failures)
        .bind(3, nowMs)
        .bind(4, nextAt)
        .run();
    db.prepare("INSERT INTO password_guess (operator_no, source, at_ms) VALUES (?, ?, ?)")
        .bind(1, operatorNo)
        .bind(2, source)
        .bind(3, nowMs)
        .run();
    return db.lastInsertId();
}

void PasswordThrottle::verified(Database& db, std::int64_t guessId, const std::string& operatorNo,
                                const std::string& source, std::int64_t nowMs) const {
    if (guessId != 0)
        db.prepare("DELETE FROM password_guess WHERE guess_id = ?").bind(1, guessId).run();
    db.prepare("DELETE FROM guess_source WHERE source = ?").bind(1, source).run();
    db.prepare("INSERT INTO operator_source (operator_no, source, last_at_ms) VALUES (?, ?, ?) "
               "ON CONFLICT (operator_no, source) DO UPDATE SET last_at_ms = excluded.last_at_ms")
        .bind(1, operatorNo)
        .bind(2, source)
        .bind(3, nowMs)
        .run();
}

bool PasswordThrottle::changesOnVerified(Database& db, const std::string& operatorNo,
                                         const std::string& source) const {
    Statement s =
        db.prepare("SELECT EXISTS (SELECT 1 FROM guess_source WHERE source = ?) OR NOT EXISTS "
                   "(SELECT 1 FROM operator_source WHERE operator_no = ? AND source = ?)");
    s.bind(1, source).bind(2, operatorNo).bind(3, source);
    return s.step() && s.integer(0) != 0;
}

} // namespace backoffice
