#include "JournalAgreement.h"

#include <cmath>
#include <map>

namespace backoffice {

namespace {

const std::string serialMark = "流水号";

std::string shownRate(const std::optional<std::string>& rate) {
    return rate ? *rate : std::string("非VIP客户");
}

} // namespace

void JournalAgreement::add(const JournalEntry& e) {
    if (!key_ || e.entryNo < key_->keyedFrom)
        return;
    if (e.event == journal::vipOpen || e.event == journal::vipClose ||
        e.event == journal::vipModify) {
        vipChanges_.push_back({e.entryNo, e.event, e.fundAccount, e.rateBefore, e.rateAfter});
    } else if (e.event == journal::sync) {
        // The serial number is the detail's last number ("同步类型2，流水号3").
        const std::size_t at = e.detail.rfind(serialMark);
        if (at != std::string::npos)
            syncSerials_.insert(std::stoll(e.detail.substr(at + serialMark.size())));
    } else if (e.event == journal::reviewDemanded) {
        demandedProcesses_.insert(e.processId);
    }
}

std::optional<JournalDisagreement> JournalAgreement::check(Database& db) const {
    if (!key_)
        return std::nullopt;
    if (auto found = checkVip(db))
        return found;
    if (auto found = checkSyncs(db))
        return found;
    return checkReviews(db);
}

std::optional<JournalDisagreement> JournalAgreement::checkVip(Database& db) const {
    std::map<std::int64_t, std::string> rates;
    Statement s = db.prepare("SELECT fund_account, discount_rate FROM vip_client");
    while (s.step()) {
        const double rate = s.real(1);
        // The back office writes whole hundredths only; anything else came from elsewhere.
        if (std::fabs(rate * 100 - std::round(rate * 100)) > 1e-6)
            return JournalDisagreement{0, "VIP客户表与日志不符：资金账户" +
                                              std::to_string(s.integer(0)) + "的折扣" + s.text(1) +
                                              "不是本系统写入的值"};
        rates[s.integer(0)] = journalRate(rate);
    }
    // Undone from the last change back: each change must find the table as it left it.
    for (auto change = vipChanges_.rbegin(); change != vipChanges_.rend(); ++change) {
        const auto found = rates.find(change->fundAccount);
        const std::optional<std::string> now =
            found == rates.end() ? std::nullopt : std::optional(found->second);
        const std::optional<std::string> left =
            change->event == journal::vipClose ? std::nullopt : std::optional(change->rateAfter);
        if (now != left)
            return JournalDisagreement{
                change->entryNo,
                "VIP客户表与日志不符：资金账户" + std::to_string(change->fundAccount) + "在第" +
                    std::to_string(change->entryNo) + "条记录（" + journalEventText(change->event) +
                    "）之后应为" + shownRate(left) + "，表中为" + shownRate(now)};
        if (change->event == journal::vipOpen)
            rates.erase(change->fundAccount);
        else
            rates[change->fundAccount] = change->rateBefore;
    }
    if (vipStateDigest(rates) != key_->vipState)
        return JournalDisagreement{0, "VIP客户表与日志不符：表中有日志没有记载的VIP开户、销户或"
                                      "折扣变更（或其日志记录连同变更一起被删除）"};
    return std::nullopt;
}

std::optional<JournalDisagreement> JournalAgreement::checkSyncs(Database& db) const {
    std::set<std::int64_t> requested;
    Statement s = db.prepare("SELECT serial_no FROM sync_request WHERE serial_no > ?");
    s.bind(1, key_->syncsBefore);
    while (s.step())
        requested.insert(s.integer(0));
    for (const std::int64_t serial : requested)
        if (!syncSerials_.contains(serial))
            return JournalDisagreement{0, "同步请求表与日志不符：流水号" + std::to_string(serial) +
                                              "的同步请求没有日志记录"};
    for (const std::int64_t serial : syncSerials_)
        if (!requested.contains(serial))
            return JournalDisagreement{0, "同步请求表与日志不符：日志记载的流水号" +
                                              std::to_string(serial) + "在表中不存在"};
    return std::nullopt;
}

std::optional<JournalDisagreement> JournalAgreement::checkReviews(Database& db) const {
    Statement s = db.prepare("SELECT process_id FROM review_process WHERE process_id > ?");
    s.bind(1, key_->reviewsBefore);
    while (s.step())
        if (!demandedProcesses_.contains(s.integer(0)))
            return JournalDisagreement{0, "复核流程表与日志不符：复核流程" +
                                              std::to_string(s.integer(0)) +
                                              "没有要求复核的日志记录"};
    return std::nullopt;
}

} // namespace backoffice
