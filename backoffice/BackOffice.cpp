#include "BackOffice.h"

#include "Seed.h"

#include <ctime>
#include <map>

namespace backoffice {

namespace {

using Handler = std::string (*)(HandlerContext&);

constexpr std::int32_t loginFunction = 100001;

const std::map<std::int32_t, Handler>& handlers() {
    static const std::map<std::int32_t, Handler> table{
        {105006, &handleSysConfig},        {200086, &handleResolveAccount},
        {200076, &handleFundAccount},      {200105, &handleSubAccounts},
        {150010, &handleClientInfo},       {730000, &handleClientSync},
        {730001, &handleVipOpen},          {730002, &handleVipClose},
        {730003, &handleVipModify},        {730004, &handleVipList},
        {360042, &handleReview},           {loginFunction, &handleOperatorLogin},
        {100002, &handleOperatorBranches}, {100003, &handleOperatorFunctions},
        {100004, &handleDictionary},
    };
    return table;
}

std::int64_t now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool branchExists(Database& db, std::int64_t branchNo) {
    Statement s = db.prepare("SELECT 1 FROM branch WHERE branch_no = ?");
    s.bind(1, branchNo);
    return s.step();
}

} // namespace

// A pooled connection, given back on every path.
class BackOffice::Lease {
public:
    explicit Lease(BackOffice& office) : office_(office), db_(office.takeConnection()) {}
    ~Lease() { office_.giveBack(std::move(db_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Database& db() { return *db_; }

private:
    BackOffice& office_;
    std::unique_ptr<Database> db_;
};

BackOffice::BackOffice(const std::string& dbPath, OfficeOptions options)
    : path_(dbPath), options_(options), db_(dbPath, false, options.fullSync) {
    // A database made by an earlier version gets the tables and columns added since.
    upgradeSchema(db_);
}

std::unique_ptr<Database> BackOffice::takeConnection() {
    {
        std::lock_guard lock(poolMutex_);
        if (!idle_.empty()) {
            auto db = std::move(idle_.back());
            idle_.pop_back();
            return db;
        }
    }
    return std::make_unique<Database>(path_, false, options_.fullSync);
}

void BackOffice::giveBack(std::unique_ptr<Database> db) {
    std::lock_guard lock(poolMutex_);
    idle_.push_back(std::move(db));
}

std::int32_t BackOffice::mainBranchNo(Database& db) {
    Statement s = db.prepare("SELECT min(branch_no) FROM branch WHERE branch_type = '0'");
    return s.step() && !s.isNull(0) ? static_cast<std::int32_t>(s.integer(0)) : 0;
}

Operator BackOffice::findOperator(Database& db, const std::string& operatorNo) {
    Statement s = db.prepare("SELECT operator_no, operator_name, operator_kind, branch_no, "
                             "can_review, password_hash FROM operator WHERE operator_no = ?");
    s.bind(1, operatorNo);
    if (!s.step())
        throw ServiceError(errors::unknownOperator, "操作员[" + operatorNo + "]不存在");
    return {s.text(0),         s.text(1), s.text(2), static_cast<std::int32_t>(s.integer(3)),
            s.integer(4) != 0, s.text(5)};
}

void BackOffice::journal(Database& db, JournalEntry entry) {
    if (!options_.journal)
        return;
    if (entry.clientId.empty() && entry.fundAccount != 0) {
        Statement s = db.prepare("SELECT client_id FROM fund_account WHERE fund_account = ?");
        s.bind(1, entry.fundAccount);
        if (s.step())
            entry.clientId = s.text(0);
    }
    appendJournal(db, std::move(entry));
}

JournalEntry requestEntry(const HandlerContext& ctx, std::string event) {
    JournalEntry e;
    e.event = std::move(event);
    e.operatorNo = ctx.op.operatorNo;
    e.branchNo = ctx.op.branchNo;
    e.station = ctx.request.optionalText("op_station").value_or("");
    e.functionId = ctx.request.functionNo();
    return e;
}

void BackOffice::checkPassword(HandlerContext& ctx, const Operator& op, std::string_view password,
                               std::int32_t wrongPasswordError) {
    Database& db = ctx.db;
    const auto lockedFor = [&](std::int64_t until) {
        const std::int64_t minutes = (until - now() + 59) / 60;
        return ServiceError(errors::operatorLocked,
                            "操作员[" + op.operatorNo + "]密码错误次数过多，已被锁定，请" +
                                std::to_string(minutes < 1 ? 1 : minutes) + "分钟后再试");
    };
    bool counted = false;
    {
        Statement s = db.prepare("SELECT locked_until FROM password_failure WHERE operator_no = ?");
        s.bind(1, op.operatorNo);
        counted = s.step();
        // A locked operator is refused before any hash is computed.
        if (counted && s.integer(0) > now())
            throw lockedFor(s.integer(0));
    }
    if (passwords_.verify(op.operatorNo, op.passwordHash, password)) {
        if (counted) // the usual case writes nothing
            db.prepare("DELETE FROM password_failure WHERE operator_no = ?")
                .bind(1, op.operatorNo)
                .run();
        return;
    }
    Transaction t(db);
    db.prepare("INSERT INTO password_failure (operator_no, failures, locked_until) "
               "VALUES (?, 1, 0) ON CONFLICT (operator_no) DO UPDATE SET "
               "failures = CASE WHEN locked_until > 0 THEN 1 ELSE failures + 1 END, "
               "locked_until = 0")
        .bind(1, op.operatorNo)
        .run();
    Statement s = db.prepare("SELECT failures FROM password_failure WHERE operator_no = ?");
    s.bind(1, op.operatorNo);
    const std::int64_t failures = s.step() ? s.integer(0) : 1;
    const bool lock = failures >= options_.maxPasswordFailures;
    const std::int64_t until = now() + options_.lockTime.count();
    if (lock)
        db.prepare("UPDATE password_failure SET locked_until = ? WHERE operator_no = ?")
            .bind(1, until)
            .bind(2, op.operatorNo)
            .run();
    const bool reviewer = wrongPasswordError == errors::reviewerPassword;
    JournalEntry wrong =
        requestEntry(ctx, reviewer ? journal::reviewRefused : journal::passwordWrong);
    if (reviewer) {
        // Entered as the review's other entries are: the reviewed request's function and
        // account.
        wrong.reviewer = op.operatorNo;
        wrong.processId = ctx.request.integer("process_id");
        Statement reviewed =
            db.prepare("SELECT function_id, fund_account FROM review_process WHERE process_id = ?");
        reviewed.bind(1, wrong.processId);
        if (reviewed.step()) {
            wrong.functionId = reviewed.integer(0);
            wrong.fundAccount = reviewed.integer(1);
        }
        wrong.detail = "复核柜员密码错误";
    } else {
        wrong.operatorNo = op.operatorNo;
        wrong.branchNo = op.branchNo;
        wrong.detail = ctx.request.has("op_password") ? "操作密码错误" : "登录密码错误";
    }
    wrong.detail += "，连续第" + std::to_string(failures) + "次";
    journal(db, wrong);
    if (lock) {
        JournalEntry locked = wrong;
        locked.event = journal::operatorLocked;
        locked.operatorNo = op.operatorNo;
        locked.branchNo = op.branchNo;
        locked.detail = "连续" + std::to_string(failures) + "次密码错误，锁定" +
                        std::to_string(options_.lockTime.count() / 60) + "分钟";
        journal(db, locked);
    }
    t.commit();
    if (lock)
        throw lockedFor(until);
    throw ServiceError(wrongPasswordError, wrongPasswordError == errors::wrongPassword
                                               ? "操作员[" + op.operatorNo + "]密码错误"
                                               : "复核柜员密码错误");
}

std::string BackOffice::handle(Session& session, std::string_view requestPacket) {
    protocol::PacketView packet;
    const protocol::DecodeStatus status = packet.decode(requestPacket);
    if (status != protocol::DecodeStatus::Ok)
        return errorReply(0, errors::badRequest,
                          std::string("请求包格式错误：") + protocol::describe(status));
    try {
        Lease lease(*this);
        return dispatch(session, lease.db(), packet);
    } catch (const ServiceError& e) {
        return errorReply(packet.functionNo(), e.errorNo(), e.what(),
                          e.errorNo() == errors::reviewRequired ? errors::reviewRequired : 0);
    } catch (const std::exception& e) {
        return errorReply(packet.functionNo(), errors::serverFault,
                          std::string("后台处理异常：") + e.what());
    }
}

std::string BackOffice::dispatch(Session& session, Database& db,
                                 const protocol::PacketView& packet) {
    const Request request(packet);
    const bool login = packet.functionNo() == loginFunction;
    if (!login && !session.open())
        throw ServiceError(errors::notLoggedIn, "请先登录");
    const auto handler = handlers().find(packet.functionNo());
    if (handler == handlers().end())
        throw ServiceError(errors::unknownFunction,
                           "功能号[" + std::to_string(packet.functionNo()) + "]不存在");
    // The header every request carries.
    const std::int32_t opBranchNo = request.int32("op_branch_no");
    request.text("op_station");
    request.text("op_entrust_way");
    if (request.int32("function_id") != packet.functionNo())
        throw ServiceError(errors::badRequest, "请求字段[function_id]与功能号不符");
    const std::string operatorNo = request.text("operator_no");
    if (login) {
        // Whatever the outcome, the session no longer speaks for anyone it did before.
        session = Session{};
    } else {
        if (operatorNo != session.operatorNo)
            throw ServiceError(errors::notSessionOperator,
                               "操作员[" + operatorNo + "]不是本连接登录的操作员");
        if (opBranchNo != session.branchNo)
            throw ServiceError(errors::notSessionOperator,
                               "营业部[" + std::to_string(opBranchNo) + "]不是登录操作员的营业部");
    }
    if (request.has("branch_no")) {
        const std::int64_t branchNo = request.integer("branch_no");
        if (branchNo != 0 && !branchExists(db, branchNo))
            throw ServiceError(errors::unknownBranch,
                               "营业部[" + std::to_string(branchNo) + "]不存在");
    }
    HandlerContext ctx{*this, db, request, findOperator(db, operatorNo)};
    if (request.has("op_password"))
        checkPassword(ctx, ctx.op, request.text("op_password"));
    std::string reply = handler->second(ctx);
    if (login)
        session = Session{ctx.op.operatorNo, ctx.op.branchNo};
    return reply;
}

} // namespace backoffice
