#include "Review.h"

#include "Records.h"
#include "VipChanges.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

namespace backoffice {

namespace {

constexpr std::size_t maxOperatorNoBytes = 32;

std::int64_t now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool isPasswordField(std::string_view name) {
    std::string lower(name);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("password") != std::string::npos || lower.find("pwd") != std::string::npos;
}

void appendEscaped(std::string& out, std::string_view value) {
    static const char hex[] = "0123456789abcdef";
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '\\' || c == ',' || c == '=') {
            out += "\\x";
            out.push_back(hex[u >> 4]);
            out.push_back(hex[u & 15]);
        } else {
            out.push_back(c);
        }
    }
}

bool ruleApplies(Database& db, std::int32_t functionId, std::optional<double> rate) {
    Statement s =
        db.prepare("SELECT 1 FROM review_rule WHERE (function_id = ? AND rate_below IS NULL) OR "
                   "(? AND rate_below IS NOT NULL AND ? < rate_below) LIMIT 1");
    s.bind(1, std::int64_t{functionId})
        .bind(2, std::int64_t{rate ? 1 : 0})
        .bind(3, rate.value_or(0.0));
    return s.step();
}

std::string defaultReviewer(Database& db, const Operator& requester) {
    Statement s = db.prepare("SELECT operator_no FROM operator WHERE can_review = 1 AND "
                             "disabled = 0 AND password_hash <> '' AND "
                             "operator_no <> ? ORDER BY branch_no <> ?, operator_no LIMIT 1");
    s.bind(1, requester.operatorNo).bind(2, std::int64_t{requester.branchNo});
    return s.step() ? s.text(0) : std::string();
}

struct Approval {
    std::int64_t processId = 0;
    std::int32_t functionId = 0;
    std::string operatorNo;
    std::int64_t fundAccount = 0;
    std::string reviewer;
    std::int64_t approvedAt = 0;
};

// Marks the approval expired and journals it, in the caller's transaction.
void expire(HandlerContext& ctx, const Approval& a) {
    ctx.db.prepare("UPDATE review_process SET status = ? WHERE process_id = ? AND status = ?")
        .bind(1, statusCode(ReviewStatus::ApprovalExpired))
        .bind(2, a.processId)
        .bind(3, statusCode(ReviewStatus::Approved))
        .run();
    JournalEntry e = requestEntry(ctx, journal::approvalExpired);
    e.operatorNo = a.operatorNo;
    e.functionId = a.functionId;
    e.fundAccount = a.fundAccount;
    e.processId = a.processId;
    e.reviewer = a.reviewer;
    if (a.operatorNo != ctx.op.operatorNo) {
        // Found by another operator's request: the workstation is not the requester's.
        e.branchNo = 0;
        e.station.clear();
        e.source.clear();
    }
    const auto age = ctx.office.options().reviewMaxAge.count();
    e.detail = "批准后" + std::to_string(age) + "秒内未使用";
    ctx.office.journal(ctx.db, e);
}

// Approvals that ran out unused are marked and journaled by the next write that looks.
void expireApprovals(HandlerContext& ctx) {
    Statement s = ctx.db.prepare(
        "SELECT process_id, function_id, operator_no, fund_account, reviewer, approved_at FROM "
        "review_process WHERE status = ? AND approved_at < ?");
    s.bind(1, statusCode(ReviewStatus::Approved))
        .bind(2, now() - ctx.office.options().reviewMaxAge.count());
    std::vector<Approval> expired;
    while (s.step())
        expired.push_back({s.integer(0), static_cast<std::int32_t>(s.integer(1)), s.text(2),
                           s.integer(3), s.text(4), s.integer(5)});
    for (const Approval& a : expired)
        expire(ctx, a);
}

// The refusal of a resend, or none when it used up its approval.
std::optional<ServiceError> useApproval(HandlerContext& ctx, const std::string& fields) {
    Statement s = ctx.db.prepare(
        "SELECT process_id, status, fund_account, reviewer FROM review_process WHERE "
        "operator_no = ? AND function_id = ? AND status IN (?, ?) AND request_fields = ? "
        "ORDER BY process_id DESC LIMIT 1");
    s.bind(1, ctx.op.operatorNo)
        .bind(2, std::int64_t{ctx.request.functionNo()})
        .bind(3, statusCode(ReviewStatus::Approved))
        .bind(4, statusCode(ReviewStatus::ApprovalExpired))
        .bind(5, fields);
    if (!s.step())
        return ServiceError(errors::notReviewed, "该业务未经复核批准，不能执行");
    const std::int64_t processId = s.integer(0);
    if (s.text(1) == statusCode(ReviewStatus::ApprovalExpired))
        return ServiceError(errors::reviewExpired, "复核批准已过期，请重新复核");
    ctx.db.prepare("UPDATE review_process SET status = ? WHERE process_id = ? AND status = ?")
        .bind(1, statusCode(ReviewStatus::Used))
        .bind(2, processId)
        .bind(3, statusCode(ReviewStatus::Approved))
        .run();
    if (ctx.db.changes() != 1)
        return ServiceError(errors::notReviewed, "该业务未经复核批准，不能执行");
    JournalEntry used = requestEntry(ctx, journal::approvalUsed);
    used.fundAccount = s.integer(2);
    used.processId = processId;
    used.reviewer = s.text(3);
    ctx.office.journal(ctx.db, used);
    return std::nullopt;
}

// Past the operator's open reviews the oldest waiting ones expire, each journaled, so that
// one operator's demands cannot grow without bound.
void expireOpenReviews(HandlerContext& ctx) {
    const int keep = std::max(0, ctx.office.options().openReviewsPerOperator - 1);
    Statement s = ctx.db.prepare(
        "SELECT process_id, function_id, fund_account FROM review_process WHERE operator_no = ? "
        "AND status = ? ORDER BY process_id DESC LIMIT -1 OFFSET ?");
    s.bind(1, ctx.op.operatorNo)
        .bind(2, statusCode(ReviewStatus::Waiting))
        .bind(3, std::int64_t{keep});
    std::vector<std::array<std::int64_t, 3>> expired;
    while (s.step())
        expired.push_back({s.integer(0), s.integer(1), s.integer(2)});
    for (const auto& [processId, functionId, fundAccount] : expired) {
        // What the demand asked is no longer needed: the journal keeps what happened.
        ctx.db
            .prepare(
                "UPDATE review_process SET status = ?, request_fields = '' WHERE process_id = ?")
            .bind(1, statusCode(ReviewStatus::WaitingExpired))
            .bind(2, processId)
            .run();
        JournalEntry e = requestEntry(ctx, journal::reviewExpired);
        e.functionId = functionId;
        e.fundAccount = fundAccount;
        e.processId = processId;
        e.detail = "等待复核的流程超过" +
                   std::to_string(ctx.office.options().openReviewsPerOperator) +
                   "个，最早的流程过期";
        ctx.office.journal(ctx.db, e);
    }
}

// A wrong reviewer password counts against the requester's process too: past a few, the
// process is void and the request has to be made again, so that guesses at a reviewer
// cannot go on under one demand. Throws the refusal once the process is void.
void countWrongReviewer(HandlerContext& ctx, std::int64_t processId, const std::string& reviewer) {
    Transaction t(ctx.db);
    ctx.db
        .prepare("UPDATE review_process SET wrong_reviews = wrong_reviews + 1 WHERE "
                 "process_id = ? AND status = ?")
        .bind(1, processId)
        .bind(2, statusCode(ReviewStatus::Waiting))
        .run();
    Statement s = ctx.db.prepare(
        "SELECT wrong_reviews, function_id, fund_account FROM review_process WHERE process_id = ?");
    s.bind(1, processId);
    const int limit = ctx.office.options().wrongReviewsPerProcess;
    if (!s.step() || s.integer(0) < limit)
        return t.commit();
    ctx.db
        .prepare("UPDATE review_process SET status = ?, request_fields = '' WHERE process_id = ? "
                 "AND status = ?")
        .bind(1, statusCode(ReviewStatus::Void))
        .bind(2, processId)
        .bind(3, statusCode(ReviewStatus::Waiting))
        .run();
    if (ctx.db.changes() != 1)
        return t.commit();
    JournalEntry e = requestEntry(ctx, journal::reviewRefused);
    e.functionId = s.integer(1);
    e.fundAccount = s.integer(2);
    e.processId = processId;
    e.reviewer = reviewer;
    e.detail = "复核柜员密码错误" + std::to_string(limit) + "次，复核流程作废";
    ctx.office.journal(ctx.db, e);
    t.commit();
    throw ServiceError(errors::reviewerPassword, "复核柜员密码错误次数过多，复核流程[" +
                                                     std::to_string(processId) +
                                                     "]已作废，请重新提交业务");
}

} // namespace

std::vector<std::string_view> reviewedFieldNames(const FunctionRule& rule) {
    // The fields of the standard header that the back office reads.
    std::vector<std::string_view> names{"op_branch_no", "operator_no", "op_station",
                                        "op_entrust_way", "function_id"};
    names.insert(names.end(), rule.fields.begin(), rule.fields.end());
    return names;
}

std::string reviewedFields(const protocol::PacketView& packet, const FunctionRule& rule) {
    const std::vector<std::string_view> names = reviewedFieldNames(rule);
    std::string out;
    for (std::size_t f = 0; f < packet.fieldCount(); ++f) {
        const protocol::PacketView::Field& field = packet.field(f);
        if (std::find(names.begin(), names.end(), field.name) == names.end() ||
            isPasswordField(field.name))
            continue;
        if (!out.empty())
            out.push_back(',');
        appendEscaped(out, field.name);
        switch (field.type) {
        case protocol::FieldType::Integer:
            out += ":i=" + std::to_string(packet.integer(0, f));
            break;
        case protocol::FieldType::Real: {
            char buffer[40];
            std::snprintf(buffer, sizeof buffer, ":r=%.17g", packet.real(0, f));
            out += buffer;
            break;
        }
        case protocol::FieldType::Text:
        case protocol::FieldType::Bytes:
            out += field.type == protocol::FieldType::Text ? ":t=" : ":b=";
            appendEscaped(out, packet.text(0, f));
            break;
        }
        if (out.size() > maxReviewedBytes)
            throw ServiceError(errors::tooLarge, "需复核的请求过大：最多" +
                                                     std::to_string(maxReviewedBytes) + "字节");
    }
    return out;
}

ReviewDecision reviewGate(HandlerContext& ctx, const FunctionRule& rule) {
    const Request& r = ctx.request;
    const std::int64_t fundAccount = r.integer("fund_account");
    const std::optional<double> rate =
        rule.rateField ? std::optional<double>(parseRate(r.text(rule.rateField))) : std::nullopt;
    expireApprovals(ctx);
    if (r.optionalText("audit_action").value_or("0") == "2")
        return {useApproval(ctx, reviewedFields(r.packet(), rule))};
    const std::int32_t functionId = r.functionNo();
    if (!ruleApplies(ctx.db, functionId, rate))
        return {};
    const std::string fields = reviewedFields(r.packet(), rule);
    if (!loadFundAccount(ctx.db, fundAccount))
        return {ServiceError(errors::unknownAccount,
                             "资金账户[" + std::to_string(fundAccount) + "]不存在")};
    expireOpenReviews(ctx);
    const std::string reviewer = defaultReviewer(ctx.db, ctx.op);
    ctx.db
        .prepare("INSERT INTO review_process (function_id, operator_no, fund_account, "
                 "default_reviewer, request_fields) VALUES (?, ?, ?, ?, ?)")
        .bind(1, std::int64_t{functionId})
        .bind(2, ctx.op.operatorNo)
        .bind(3, fundAccount)
        .bind(4, reviewer)
        .bind(5, fields)
        .run();
    const std::int64_t processId = ctx.db.lastInsertId();
    JournalEntry demanded = requestEntry(ctx, journal::reviewDemanded);
    demanded.fundAccount = fundAccount;
    if (rate)
        demanded.rateAfter = journalRate(*rate);
    demanded.processId = processId;
    demanded.reviewer = reviewer;
    demanded.detail = "默认复核柜员" + reviewer;
    ctx.office.journal(ctx.db, demanded);
    return {ServiceError(errors::reviewRequired,
                         "该业务需要临柜复核," + std::to_string(processId) + "," + reviewer)};
}

std::string handleReview(HandlerContext& ctx) {
    const Request& r = ctx.request;
    const std::int64_t processId = r.integer("process_id");
    r.int32("audit_branch_no");
    const std::string reviewerNo = r.text("audit_operator_no");
    // The reviewer's number is journaled with every refusal: it is short or refused.
    if (reviewerNo.size() > maxOperatorNoBytes)
        throw ServiceError(errors::badRequest, "请求字段[audit_operator_no]过长：最多" +
                                                   std::to_string(maxOperatorNoBytes) + "字节");
    const std::string reviewerPassword = r.text("auditop_password");
    r.int32("audit_level");
    r.int32("occur_date");
    r.int32("task_serial_no");
    r.text("audit_remark");

    const auto checkWaiting = [&] {
        Statement s =
            ctx.db.prepare("SELECT operator_no, status FROM review_process WHERE process_id = ?");
        s.bind(1, processId);
        if (!s.step() || s.text(0) != ctx.op.operatorNo)
            throw ServiceError(errors::noSuchProcess,
                               "复核流程[" + std::to_string(processId) + "]不存在");
        const std::string status = s.text(1);
        if (status == statusCode(ReviewStatus::Void))
            throw ServiceError(errors::noSuchProcess,
                               "复核流程[" + std::to_string(processId) + "]已作废，请重新提交业务");
        if (status == statusCode(ReviewStatus::WaitingExpired))
            throw ServiceError(errors::noSuchProcess,
                               "复核流程[" + std::to_string(processId) + "]已过期，请重新提交业务");
        if (status != statusCode(ReviewStatus::Waiting))
            throw ServiceError(errors::noSuchProcess,
                               "复核流程[" + std::to_string(processId) + "]已处理");
    };
    checkWaiting();
    const auto entry = [&](const char* event) {
        JournalEntry e = requestEntry(ctx, event);
        Statement s = ctx.db.prepare(
            "SELECT function_id, fund_account FROM review_process WHERE process_id = ?");
        s.bind(1, processId);
        if (s.step()) {
            e.functionId = s.integer(0);
            e.fundAccount = s.integer(1);
        }
        e.processId = processId;
        e.reviewer = reviewerNo;
        return e;
    };
    // A refusal that is not a password's is journaled here; a wrong password is journaled
    // with its count.
    const auto refuse = [&](const ServiceError& error) {
        Transaction t(ctx.db);
        JournalEntry e = entry(journal::reviewRefused);
        e.detail = error.what();
        ctx.office.journal(ctx.db, e);
        t.commit();
        return error;
    };
    Operator reviewer;
    try {
        reviewer = ctx.office.findOperator(ctx.db, reviewerNo);
    } catch (const ServiceError& e) {
        throw refuse(e);
    }
    if (reviewer.operatorNo == ctx.op.operatorNo)
        throw refuse(ServiceError(errors::sameReviewer, "复核柜员不能与经办柜员相同"));
    if (!reviewer.canReview)
        throw refuse(ServiceError(errors::noReviewRight, "柜员[" + reviewerNo + "]没有复核权限"));
    try {
        ctx.office.checkPassword(ctx, reviewer, reviewerPassword, errors::reviewerPassword);
    } catch (const ServiceError& e) {
        if (e.errorNo() != errors::reviewerPassword)
            throw;
        countWrongReviewer(ctx, processId, reviewerNo);
        throw;
    }

    Transaction t(ctx.db);
    checkWaiting(); // another connection may have approved it meanwhile
    ctx.db
        .prepare("UPDATE review_process SET status = ?, reviewer = ?, approved_at = ? "
                 "WHERE process_id = ?")
        .bind(1, statusCode(ReviewStatus::Approved))
        .bind(2, reviewerNo)
        .bind(3, now())
        .bind(4, processId)
        .run();
    ctx.office.journal(ctx.db, entry(journal::reviewApproved));
    t.commit();
    protocol::PacketWriter w(protocol::function::review, 0);
    w.addField("process_id", protocol::FieldType::Integer);
    w.beginRecord();
    w.integer(processId);
    return finishReply(w);
}

} // namespace backoffice
