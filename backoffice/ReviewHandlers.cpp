#include "Review.h"

namespace backoffice {

namespace {

bool ruleApplies(Database& db, std::int32_t functionId, std::optional<double> rate) {
    Statement s = db.prepare("SELECT rate_below FROM review_rule WHERE function_id = ?");
    s.bind(1, std::int64_t{functionId});
    if (!s.step())
        return false;
    return s.isNull(0) || (rate && *rate < s.real(0));
}

std::string defaultReviewer(Database& db, const Operator& requester) {
    Statement s = db.prepare("SELECT operator_no FROM operator WHERE can_review = 1 AND "
                             "operator_no <> ? ORDER BY branch_no <> ?, operator_no LIMIT 1");
    s.bind(1, requester.operatorNo).bind(2, std::int64_t{requester.branchNo});
    return s.step() ? s.text(0) : std::string();
}

} // namespace

std::int64_t checkReview(HandlerContext& ctx, std::int64_t fundAccount,
                         std::optional<double> rate) {
    const std::int32_t functionId = ctx.request.functionNo();
    const std::string action = ctx.request.optionalText("audit_action").value_or("0");
    if (action == "2") {
        Statement s = ctx.db.prepare(
            "SELECT process_id FROM review_process WHERE function_id = ? AND operator_no = ? "
            "AND fund_account = ? AND status = '1' ORDER BY process_id DESC LIMIT 1");
        s.bind(1, std::int64_t{functionId}).bind(2, ctx.op.operatorNo).bind(3, fundAccount);
        if (!s.step())
            throw ServiceError(errors::notReviewed, "该业务未经复核批准，不能执行");
        return s.integer(0);
    }
    if (!ruleApplies(ctx.db, functionId, rate))
        return 0;
    const std::string reviewer = defaultReviewer(ctx.db, ctx.op);
    Transaction t(ctx.db);
    ctx.db
        .prepare("INSERT INTO review_process (function_id, operator_no, fund_account, "
                 "default_reviewer) VALUES (?, ?, ?, ?)")
        .bind(1, std::int64_t{functionId})
        .bind(2, ctx.op.operatorNo)
        .bind(3, fundAccount)
        .bind(4, reviewer)
        .run();
    const std::int64_t processId = ctx.db.lastInsertId();
    t.commit();
    throw ServiceError(errors::reviewRequired,
                       "该业务需要临柜复核," + std::to_string(processId) + "," + reviewer);
}

void useReview(Database& db, std::int64_t processId) {
    if (processId == 0)
        return;
    db.prepare("UPDATE review_process SET status = '2' WHERE process_id = ?")
        .bind(1, processId)
        .run();
}

std::string handleReview(HandlerContext& ctx) {
    const Request& r = ctx.request;
    const std::int64_t processId = r.integer("process_id");
    r.int32("audit_branch_no");
    const std::string reviewerNo = r.text("audit_operator_no");
    const std::string reviewerPassword = r.text("auditop_password");
    r.int32("audit_level");
    r.int32("occur_date");
    r.int32("task_serial_no");
    r.text("audit_remark");

    Statement s =
        ctx.db.prepare("SELECT operator_no, status FROM review_process WHERE process_id = ?");
    s.bind(1, processId);
    if (!s.step() || s.text(0) != ctx.op.operatorNo)
        throw ServiceError(errors::noSuchProcess,
                           "复核流程[" + std::to_string(processId) + "]不存在");
    if (s.text(1) != "0")
        throw ServiceError(errors::noSuchProcess,
                           "复核流程[" + std::to_string(processId) + "]已处理");
    const Operator reviewer = ctx.office.findOperator(reviewerNo);
    if (reviewer.operatorNo == ctx.op.operatorNo)
        throw ServiceError(errors::sameReviewer, "复核柜员不能与经办柜员相同");
    if (!reviewer.canReview)
        throw ServiceError(errors::noReviewRight, "柜员[" + reviewerNo + "]没有复核权限");
    if (!ctx.office.passwords().verify(reviewer.operatorNo, reviewer.passwordHash,
                                       reviewerPassword))
        throw ServiceError(errors::reviewerPassword, "复核柜员密码错误");

    Transaction t(ctx.db);
    ctx.db.prepare("UPDATE review_process SET status = '1', reviewer = ? WHERE process_id = ?")
        .bind(1, reviewerNo)
        .bind(2, processId)
        .run();
    t.commit();
    protocol::PacketWriter w(360042, 0);
    w.addField("process_id", protocol::FieldType::Integer);
    w.beginRecord();
    w.integer(processId);
    return finishReply(w);
}

} // namespace backoffice
