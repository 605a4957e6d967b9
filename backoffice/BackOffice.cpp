#include "BackOffice.h"

#include "Admin.h"
#include "JournalKey.h"
#include "Log.h"
#include "Review.h"
#include "Seed.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <map>
#include <optional>

namespace backoffice {

namespace {

// A workstation is named by a short text; it is journaled with every change.
constexpr std::size_t maxStationBytes = 64;

} // namespace

const std::map<std::int32_t, FunctionRule>& functionTable() {
    namespace f = protocol::function;
    using enum Access;
    static const std::map<std::int32_t, FunctionRule> table{
        {f::login,
         {.handler = &handleOperatorLogin,
          .needsSession = false,
          .credential = "password",
          .access = Reads}},
        {f::operatorBranches,
         {.handler = &handleOperatorBranches, .credential = "password", .access = Reads}},
        {f::operatorFunctions,
         {.handler = &handleOperatorFunctions, .credential = "password", .access = Reads}},
        {f::dictionary, {.handler = &handleDictionary, .credential = "password", .access = Reads}},
        {f::sysConfig, {.handler = &handleSysConfig, .access = Reads}},
        {f::resolveAccount, {.handler = &handleResolveAccount, .access = Reads}},
        {f::fundAccount, {.handler = &handleFundAccount, .access = Reads}},
        {f::subAccounts, {.handler = &handleSubAccounts, .access = Reads}},
        {f::clientInfo, {.handler = &handleClientInfo, .access = Reads}},
        {f::clientSync,
         {.handler = &handleClientSync,
          .access = Reviewable,
          .fields = {"branch_no", "fund_account", "sync_type"}}},
        {f::vipOpen,
         {.handler = &handleVipOpen,
          .access = Reviewable,
          .rateField = "discount_rate",
          .fields = {"branch_no", "client_id", "fund_account", "discount_rate"}}},
        {f::vipClose,
         {.handler = &handleVipClose,
          .access = Reviewable,
          .fields = {"branch_no", "fund_account"}}},
        {f::vipModify,
         {.handler = &handleVipModify,
          .access = Reviewable,
          .rateField = "discount_rate",
          .fields = {"branch_no", "fund_account", "discount_rate"}}},
        {f::vipList, {.handler = &handleVipList, .access = Reads}},
        {f::review,
         {.handler = &handleReview,
          .access = Unreviewed,
          .unreviewedBecause = "the review itself: the reviewer's password is its gate"}},
    };
    return table;
}

const FunctionRule* functionRule(std::int32_t functionNo) {
    const auto& table = functionTable();
    const auto found = table.find(functionNo);
    return found == table.end() ? nullptr : &found->second;
}

namespace {

// A number to find a fault by in the server's log: the time and a count.
std::string faultReference() {
    static std::atomic<unsigned> count{0};
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d-%u", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ++count);
    return text;
}

// While it lives the connection refuses every write, so that the handler of a function
// that only reads cannot change a record whatever it runs.
class WritesRefused {
public:
    explicit WritesRefused(Database& db) : db_(db) { db_.exec("PRAGMA query_only = 1"); }
    ~WritesRefused() {
        if (sqlite3_exec(db_.handle(), "PRAGMA query_only = 0", nullptr, nullptr, nullptr) !=
            SQLITE_OK)
            logLine(LogPriority::Error,
                    std::string("marlo-backoffice: a connection stays read-only: ") +
                        sqlite3_errmsg(db_.handle()));
    }
    WritesRefused(const WritesRefused&) = delete;
    WritesRefused& operator=(const WritesRefused&) = delete;

private:
    Database& db_;
};

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
    : path_(dbPath), options_(options), db_(dbPath, false, options.fullSync),
      attempts_(options.throttle, options.maxHashes, options.hashWait), writes_(options.writePace) {
    // A database made by an earlier version gets the tables and columns added since.
    upgradeSchema(db_);
    // Before any change, so that the key records the tables as they stand.
    ensureJournalKey(db_);
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
    // A connection left inside a transaction (its rollback failed) would fail every later
    // request that took it: it is rolled back here, or closed.
    if (db->inTransaction()) {
        try {
            db->exec("ROLLBACK");
        } catch (const DatabaseError& e) {
            logLine(
                LogPriority::Error,
                std::string("marlo-backoffice: a connection that cannot roll back is closed: ") +
                    e.what());
        }
        if (db->inTransaction())
            return;
    }
    std::lock_guard lock(poolMutex_);
    idle_.push_back(std::move(db));
}

std::int32_t BackOffice::mainBranchNo(Database& db) {
    Statement s = db.prepare("SELECT min(branch_no) FROM branch WHERE branch_type = '0'");
    return s.step() && !s.isNull(0) ? static_cast<std::int32_t>(s.integer(0)) : 0;
}

Operator BackOffice::findOperator(Database& db, const std::string& operatorNo) {
    Statement s = db.prepare("SELECT operator_no, operator_name, operator_kind, branch_no, "
                             "can_review, password_hash, disabled FROM operator WHERE "
                             "operator_no = ?");
    s.bind(1, operatorNo);
    if (!s.step())
        throw ServiceError(errors::unknownOperator, "操作员[" + operatorNo + "]不存在");
    Operator op{
        s.text(0),         s.text(1), s.text(2),        static_cast<std::int32_t>(s.integer(3)),
        s.integer(4) != 0, s.text(5), s.integer(6) != 0};
    if (op.disabled)
        throw ServiceError(errors::operatorDisabled, "操作员[" + operatorNo + "]已停用");
    if (op.passwordHash.empty())
        throw ServiceError(errors::operatorDisabled, "操作员[" + operatorNo + "]尚未设置密码");
    return op;
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
    e.source = ctx.session.source;
    e.functionId = ctx.request.functionNo();
    return e;
}

void BackOffice::journalRefusal(HandlerContext& ctx, const Operator& op,
                                const std::string& refusal) {
    Transaction t(ctx.db);
    JournalEntry e = requestEntry(ctx, journal::loginRefused);
    e.operatorNo = op.operatorNo;
    e.branchNo = op.branchNo;
    e.detail = refusal;
    journal(ctx.db, e);
    t.commit();
}

void BackOffice::endSession(Session& session, const std::string& why) {
    if (!session.open() || !session.served()) {
        session = Session{{}, 0, session.source, {}};
        return;
    }
    Lease lease(*this);
    endSession(lease.db(), session, why);
}

void BackOffice::endSession(Database& db, Session& session, const std::string& why) {
    const Session ended = session;
    session = Session{{}, 0, ended.source, {}};
    if (!ended.open() || !ended.served())
        return;
    JournalEntry e;
    e.event = journal::logout;
    e.operatorNo = ended.operatorNo;
    e.branchNo = ended.branchNo;
    e.source = ended.source;
    e.detail = why;
    Transaction t(db);
    journal(db, e);
    t.commit();
}

void BackOffice::journalRefusedOperator(Database& db, const Session& session,
                                        const Request& request, const ServiceError& refusal) {
    const std::string operatorNo = request.text("operator_no");
    if (!session.served() || !attempts_.refusalToJournal(session.source, operatorNo))
        return;
    JournalEntry e;
    e.event = journal::loginRefused;
    e.operatorNo = operatorNo;
    e.branchNo = request.int32("op_branch_no");
    e.station = request.optionalText("op_station").value_or("");
    e.source = session.source;
    e.functionId = request.functionNo();
    e.detail = refusal.what();
    Transaction t(db);
    journal(db, e);
    t.commit();
}

void BackOffice::journalWrongPassword(HandlerContext& ctx, const Operator& op, bool reviewer,
                                      const PasswordAttempt& attempt) {
    Database& db = ctx.db;
    const std::string& source = ctx.session.source;
    const GuessStanding& standing = attempt.standing;
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
        wrong.detail = ctx.request.has("op_password") ? "操作密码错误" : "登录密码错误";
    }
    wrong.detail += "，该来源第" + std::to_string(standing.pairFailures) + "次";
    journal(db, wrong);
    // The entries below are about the operator whose password was guessed.
    JournalEntry about = requestEntry(ctx, journal::sourceSlowed);
    about.operatorNo = op.operatorNo;
    about.branchNo = op.branchNo;
    if (standing.wait.count() > 0) {
        about.detail = "来源[" + source + "]密码错误" + std::to_string(standing.pairFailures) +
                       "次，须等待" + std::to_string((standing.wait.count() + 999) / 1000) + "秒";
        journal(db, about);
    }
    if (attempt.boundReached) {
        const ThrottleOptions& bounds = attempts_.options();
        about.event = journal::operatorBounded;
        about.detail = "操作员[" + op.operatorNo + "]" +
                       std::to_string(bounds.window.count() / 60000) + "分钟内密码错误" +
                       std::to_string(bounds.guessesPerOperator) + "次，只受理其本人常用柜台的密码";
        journal(db, about);
    }
}

void BackOffice::checkPassword(HandlerContext& ctx, const Operator& op, std::string_view password,
                               std::int32_t wrongPasswordError) {
    const bool own = ctx.session.open() && ctx.session.operatorNo == op.operatorNo;
    const PasswordAttempt attempt = attempts_.attempt(ctx.db, op.operatorNo, op.passwordHash,
                                                      password, ctx.session.source, own);
    ctx.session.holdBack = attempt.holdBack;
    switch (attempt.result) {
    case PasswordAttempt::Result::Right:
        return;
    case PasswordAttempt::Result::Busy:
        throw ServiceError(errors::busy, attempt.refusal);
    case PasswordAttempt::Result::Refused:
        if (attempt.journalRefusal)
            journalRefusal(ctx, op, attempt.refusal);
        throw ServiceError(errors::passwordThrottled, attempt.refusal);
    case PasswordAttempt::Result::Wrong:
        break;
    }
    Transaction t(ctx.db);
    journalWrongPassword(ctx, op, wrongPasswordError == errors::reviewerPassword, attempt);
    t.commit();
    throw ServiceError(wrongPasswordError, wrongPasswordError == errors::wrongPassword
                                               ? "操作员[" + op.operatorNo + "]密码错误"
                                               : "复核柜员密码错误");
}

void BackOffice::releaseOperator(const std::string& operatorNo, const std::string& administrator) {
    Lease lease(*this);
    // An unknown operator is a ServiceError, as on any request.
    findOperator(lease.db(), operatorNo);
    backoffice::releaseOperator(lease.db(), operatorNo, administrator);
}

std::string BackOffice::handle(Session& session, std::string_view requestPacket) {
    // Built before any request, so that even a fault that leaves no memory has its reply.
    static const std::string lastResort =
        errorReply(0, errors::serverFault, "后台内部错误，请联系管理员");
    std::int32_t functionNo = 0;
    try {
        return answer(session, requestPacket, functionNo);
    } catch (...) {
        try {
            return faultReply(functionNo, std::current_exception());
        } catch (...) {
            return lastResort;
        }
    }
}

std::string BackOffice::faultReply(std::int32_t functionNo, std::exception_ptr fault) {
    std::string what = "an exception of no standard kind";
    try {
        std::rethrow_exception(fault);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    // The detail is for the server's log only; the counter gets words and a number to quote.
    const std::string reference = faultReference();
    logLine(LogPriority::Error, "marlo-backoffice: fault " + reference + " in function " +
                                    std::to_string(functionNo) + ": " + what);
    return errorReply(functionNo, errors::serverFault,
                      "后台内部错误，请联系管理员（参考号：" + reference + "）");
}

std::string BackOffice::answer(Session& session, std::string_view requestPacket,
                               std::int32_t& functionNo) {
    protocol::PacketView packet;
    const protocol::DecodeStatus status = packet.decode(requestPacket);
    if (status != protocol::DecodeStatus::Ok)
        return errorReply(0, errors::badRequest,
                          std::string("请求包格式错误：") + protocol::describe(status));
    functionNo = packet.functionNo();
    // Whatever the outcome of a login, refused for its size or its header included, the
    // session no longer speaks for anyone it did before.
    if (const FunctionRule* rule = functionRule(packet.functionNo()); rule && !rule->needsSession)
        endSession(session, "同一连接重新登录");
    if (requestPacket.size() > RequestLimits::maxRequestBytes)
        return errorReply(packet.functionNo(), errors::tooLarge,
                          "请求过大：最多" + std::to_string(RequestLimits::maxRequestBytes / 1024) +
                              "KB");
    for (std::size_t f = 0; f < packet.fieldCount(); ++f) {
        const protocol::PacketView::Field& field = packet.field(f);
        if (field.type != protocol::FieldType::Text && field.type != protocol::FieldType::Bytes)
            continue;
        for (std::size_t r = 0; r < packet.recordCount(); ++r) {
            if (packet.text(r, f).size() > RequestLimits::maxFieldBytes)
                return errorReply(packet.functionNo(), errors::tooLarge,
                                  "请求字段[" + std::string(field.name.substr(0, 64)) +
                                      "]过长：最多" + std::to_string(RequestLimits::maxFieldBytes) +
                                      "字节");
        }
    }
    session.holdBack = std::chrono::milliseconds(0);
    try {
        Lease lease(*this);
        return dispatch(session, lease.db(), packet);
    } catch (const ServiceError& e) {
        return errorReply(packet.functionNo(), e.errorNo(), e.what(),
                          e.errorNo() == errors::reviewRequired ? errors::reviewRequired : 0);
    }
}

std::string BackOffice::dispatch(Session& session, Database& db,
                                 const protocol::PacketView& packet) {
    Request request(packet);
    const FunctionRule* rule = functionRule(packet.functionNo());
    const auto replaced = replaced_.find(packet.functionNo());
    if ((!rule || rule->needsSession) && !session.open())
        throw ServiceError(errors::notLoggedIn, "请先登录");
    if (!rule)
        throw ServiceError(errors::unknownFunction,
                           "功能号[" + std::to_string(packet.functionNo()) + "]不存在");
    // The header every request carries.
    const std::int32_t opBranchNo = request.int32("op_branch_no");
    if (request.text("op_station").size() > maxStationBytes)
        throw ServiceError(errors::badRequest, "请求字段[op_station]过长：最多" +
                                                   std::to_string(maxStationBytes) + "字节");
    request.text("op_entrust_way");
    if (request.int32("function_id") != packet.functionNo())
        throw ServiceError(errors::badRequest, "请求字段[function_id]与功能号不符");
    const std::string operatorNo = request.text("operator_no");
    if (rule->needsSession) {
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
    Operator op;
    try {
        op = findOperator(db, operatorNo);
    } catch (const ServiceError& e) {
        // A disabled operator's session ends with his next request. An unknown operator's
        // login is not journaled: anyone can make up numbers, and each would be a row.
        if (e.errorNo() == errors::operatorDisabled) {
            if (rule->needsSession)
                endSession(db, session, e.what());
            else
                journalRefusedOperator(db, session, request, e);
        }
        throw;
    }
    HandlerContext ctx{*this, db, request, session, std::move(op)};
    if (rule->credential)
        checkPassword(ctx, ctx.op, request.text(rule->credential));
    if (request.has("op_password"))
        checkPassword(ctx, ctx.op, request.text("op_password"));
    // Changes and review demands store rows and journal entries. A review answers a demand
    // (so they are paced with it), and a wrong password in one is bounded by the throttle.
    if (rule->reviewable() && !writes_.take(ctx.op.operatorNo))
        throw ServiceError(errors::busy, "操作过于频繁，请稍后再试");
    std::optional<Transaction> transaction;
    std::optional<WritesRefused> readOnly;
    if (rule->access.value == Access::Reads)
        readOnly.emplace(db);
    if (rule->reviewable()) {
        // What the gate and the handler read is what a review records, and whether this is
        // the resend of an approved request.
        std::vector<std::string_view> listed = reviewedFieldNames(*rule);
        listed.push_back("audit_action");
        request.limitTo(std::move(listed));
        transaction.emplace(db);
        ctx.transaction = &*transaction;
        const ReviewDecision decision = reviewGate(ctx, *rule);
        if (decision.refusal) {
            // A demand's process, and expiries found on the way, are kept with their
            // journal entries.
            transaction->commit();
            throw *decision.refusal;
        }
    }
    std::string reply = (replaced == replaced_.end() ? rule->handler : replaced->second)(ctx);
    if (transaction)
        transaction->commit();
    if (!rule->needsSession) {
        // A login that cannot be journaled is not granted. Not paced: the password and its
        // throttle are the gate of a login.
        if (session.served()) {
            readOnly.reset();
            Transaction loggedIn(db);
            journal(db, requestEntry(ctx, journal::login));
            loggedIn.commit();
        }
        session = Session{ctx.op.operatorNo, ctx.op.branchNo, session.source, {}};
    }
    return reply;
}

void BackOffice::replaceHandler(std::int32_t functionNo, Handler handler) {
    if (!functionRule(functionNo))
        throw std::invalid_argument("no function " + std::to_string(functionNo));
    replaced_[functionNo] = handler;
}

} // namespace backoffice
