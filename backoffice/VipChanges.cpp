#include "VipChanges.h"

#include "Request.h"

#include <ctime>

namespace backoffice {

namespace {

void setEntrustWays(Database& db, std::int64_t fundAccount, const std::string& ways) {
    db.prepare("UPDATE fund_account SET en_entrust_way = ? WHERE fund_account = ?")
        .bind(1, ways)
        .bind(2, fundAccount)
        .run();
}

std::int64_t today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

} // namespace

void openVip(Database& db, const FundAccountRow& account, double rate,
             const std::string& operatorNo) {
    db.prepare("INSERT INTO vip_client VALUES (?, ?, ?, ?, ?, ?)")
        .bind(1, account.fundAccount)
        .bind(2, account.clientId)
        .bind(3, std::int64_t{account.branchNo})
        .bind(4, rate)
        .bind(5, today())
        .bind(6, operatorNo)
        .run();
    if (account.entrustWays.find('Z') == std::string::npos)
        setEntrustWays(db, account.fundAccount, account.entrustWays + "Z");
}

void closeVip(Database& db, const FundAccountRow& account) {
    db.prepare("DELETE FROM vip_client WHERE fund_account = ?").bind(1, account.fundAccount).run();
    if (db.changes() != 1)
        throw ServiceError(errors::notVip, "该客户不是VIP客户");
    std::string ways = account.entrustWays;
    std::erase(ways, 'Z');
    setEntrustWays(db, account.fundAccount, ways);
}

void modifyVip(Database& db, std::int64_t fundAccount, double rate) {
    db.prepare("UPDATE vip_client SET discount_rate = ? WHERE fund_account = ?")
        .bind(1, rate)
        .bind(2, fundAccount)
        .run();
    if (db.changes() != 1)
        throw ServiceError(errors::notVip, "该客户不是VIP客户");
}

// A discount rate: a decimal in (0, 1] with at most two decimals, as "0.85" or "1".
double parseRate(const std::string& text) {
    const auto bad = [&] {
        return ServiceError(errors::badRate,
                            "佣金折扣[" + text + "]无效：应大于0且不大于1，最多两位小数");
    };
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string decimals = dot == std::string::npos ? "" : text.substr(dot + 1);
    const auto digits = [](const std::string& s) {
        return s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (whole.empty() || !digits(whole) || !digits(decimals) || decimals.size() > 2 ||
        (dot != std::string::npos && decimals.empty()) || whole.size() > 3)
        throw bad();
    const int hundredths =
        std::stoi(whole) * 100 + (decimals.empty() ? 0 : std::stoi((decimals + "0").substr(0, 2)));
    if (hundredths <= 0 || hundredths > 100)
        throw bad();
    return hundredths / 100.0;
}

} // namespace backoffice
