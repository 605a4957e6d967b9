// The VIP requests: the active sync request, VIP open, close and modify, and the VIP list.

#include "BackOffice.h"
#include "Records.h"
#include "VipChanges.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace backoffice {

using protocol::FieldType;

namespace {

FundAccountRow requireAccount(HandlerContext& ctx, std::int64_t fundAccount) {
    auto account = loadFundAccount(ctx.db, fundAccount);
    if (!account)
        throw ServiceError(errors::unknownAccount,
                           "资金账户[" + std::to_string(fundAccount) + "]不存在");
    return *account;
}

bool isVip(Database& db, std::int64_t fundAccount) {
    Statement s = db.prepare("SELECT 1 FROM vip_client WHERE fund_account = ?");
    s.bind(1, fundAccount);
    return s.step();
}

// The VIP client's rate as the journal writes it; empty when he is none.
std::string vipRate(Database& db, std::int64_t fundAccount) {
    Statement s = db.prepare("SELECT discount_rate FROM vip_client WHERE fund_account = ?");
    s.bind(1, fundAccount);
    return s.step() ? journalRate(s.real(0)) : std::string();
}

std::string okReply(std::int32_t functionNo, std::int64_t fundAccount) {
    protocol::PacketWriter w(functionNo, 0);
    w.addField("fund_account", FieldType::Integer);
    w.beginRecord();
    w.integer(fundAccount);
    return finishReply(w);
}

// The branch numbers of an en_branch_no list, each once. A list can name no more branches
// than there are, so a longer one is refused before any of it is looked up.
std::vector<std::int64_t> allowedBranches(Database& db, const std::string& list) {
    std::int64_t branchCount = 0;
    {
        Statement s = db.prepare("SELECT count(*) FROM branch");
        if (s.step())
            branchCount = s.integer(0);
    }
    std::vector<std::int64_t> numbers;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        std::string item = list.substr(start, comma - start);
        std::erase_if(item, [](char c) { return c == ' '; });
        start = comma + 1;
        if (item.empty())
            continue;
        std::int64_t no = 0;
        const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), no);
        if (ec != std::errc() || end != item.data() + item.size())
            throw ServiceError(errors::badRequest, "营业部[" + item.substr(0, 32) + "]无效");
        if (std::find(numbers.begin(), numbers.end(), no) != numbers.end())
            continue;
        if (static_cast<std::int64_t>(numbers.size()) >= branchCount)
            throw ServiceError(errors::badRequest,
                               "营业部列表过长：最多" + std::to_string(branchCount) + "个营业部");
        numbers.push_back(no);
    }
    for (std::int64_t no : numbers) {
        Statement known = db.prepare("SELECT 1 FROM branch WHERE branch_no = ?");
        known.bind(1, no);
        if (!known.step())
            throw ServiceError(errors::unknownBranch, "营业部[" + std::to_string(no) + "]不存在");
    }
    return numbers;
}

} // namespace

std::string handleClientSync(HandlerContext& ctx) {
    const Request& r = ctx.request;
    const std::int32_t branchNo = r.int32("branch_no");
    const std::int64_t fundAccount = r.integer("fund_account");
    const std::int32_t syncType = r.int32("sync_type");
    if (syncType < 0 || syncType > 2)
        throw ServiceError(errors::badRequest, "同步类型[" + std::to_string(syncType) + "]无效");
    requireAccount(ctx, fundAccount);
    ctx.db
        .prepare("INSERT INTO sync_request (fund_account, branch_no, sync_type, operator_no) "
                 "VALUES (?, ?, ?, ?)")
        .bind(1, fundAccount)
        .bind(2, std::int64_t{branchNo})
        .bind(3, std::int64_t{syncType})
        .bind(4, ctx.op.operatorNo)
        .run();
    const std::int64_t serialNo = ctx.db.lastInsertId();
    JournalEntry e = requestEntry(ctx, journal::sync);
    e.fundAccount = fundAccount;
    e.detail = "同步类型" + std::to_string(syncType) + "，流水号" + std::to_string(serialNo);
    ctx.office.journal(ctx.db, e);
    protocol::PacketWriter w(protocol::function::clientSync, 0);
    w.addField("serial_no", FieldType::Integer);
    w.beginRecord();
    w.integer(serialNo);
    return finishReply(w);
}

// Sync, open, close and modify check and write in the write transaction dispatch opened for
// them, after the review gate: what they checked still holds when they write, a change
// that would change nothing is refused with why, and a review approval is used up only
// together with the change it approved.

std::string handleVipOpen(HandlerContext& ctx) {
    const Request& r = ctx.request;
    r.int32("branch_no");
    const std::string clientId = r.text("client_id");
    const std::int64_t fundAccount = r.integer("fund_account");
    const double rate = parseRate(r.text("discount_rate"));
    const FundAccountRow account = requireAccount(ctx, fundAccount);
    if (account.clientId != clientId)
        throw ServiceError(errors::unknownClient, "客户[" + clientId + "]与资金账户不符");
    if (account.status != "0")
        throw ServiceError(errors::accountNotNormal, "资金账户状态不正常，不能开通VIP");
    if (isVip(ctx.db, fundAccount))
        throw ServiceError(errors::alreadyVip, "该客户已是VIP客户");
    openVip(ctx.db, account, rate, ctx.op.operatorNo);
    JournalEntry e = requestEntry(ctx, journal::vipOpen);
    e.clientId = clientId;
    e.fundAccount = fundAccount;
    e.rateAfter = journalRate(rate);
    ctx.office.journal(ctx.db, e);
    return okReply(protocol::function::vipOpen, fundAccount);
}

std::string handleVipClose(HandlerContext& ctx) {
    ctx.request.int32("branch_no");
    const std::int64_t fundAccount = ctx.request.integer("fund_account");
    const FundAccountRow account = requireAccount(ctx, fundAccount);
    if (!isVip(ctx.db, fundAccount))
        throw ServiceError(errors::notVip, "该客户不是VIP客户");
    JournalEntry e = requestEntry(ctx, journal::vipClose);
    e.clientId = account.clientId;
    e.fundAccount = fundAccount;
    e.rateBefore = vipRate(ctx.db, fundAccount);
    closeVip(ctx.db, account);
    ctx.office.journal(ctx.db, e);
    return okReply(protocol::function::vipClose, fundAccount);
}

std::string handleVipModify(HandlerContext& ctx) {
    ctx.request.int32("branch_no");
    const std::int64_t fundAccount = ctx.request.integer("fund_account");
    const double rate = parseRate(ctx.request.text("discount_rate"));
    const FundAccountRow account = requireAccount(ctx, fundAccount);
    if (!isVip(ctx.db, fundAccount))
        throw ServiceError(errors::notVip, "该客户不是VIP客户");
    JournalEntry e = requestEntry(ctx, journal::vipModify);
    e.clientId = account.clientId;
    e.fundAccount = fundAccount;
    e.rateBefore = vipRate(ctx.db, fundAccount);
    e.rateAfter = journalRate(rate);
    modifyVip(ctx.db, fundAccount, rate);
    ctx.office.journal(ctx.db, e);
    return okReply(protocol::function::vipModify, fundAccount);
}

// Pages by key: the rows after position_str in fund_account order, at most request_num,
// filtered by the allowed branches (en_branch_no, numbers separated by commas; empty: no
// restriction) and by fund_account (0: none). The VIP check of the account forms sends
// neither cursor nor page size and gets that client's row, or none.
std::string handleVipList(HandlerContext& ctx) {
    const Request& r = ctx.request;
    r.int32("branch_no");
    const std::int64_t fundAccount = r.integer("fund_account");
    const std::string branches = r.optionalText("en_branch_no").value_or("");
    const std::string position = r.optionalText("position_str").value_or("0");
    const std::int32_t requestNum = r.has("request_num") ? r.int32("request_num") : 30;

    std::int64_t after = 0;
    {
        const auto [end, ec] =
            std::from_chars(position.data(), position.data() + position.size(), after);
        if (position.empty() || ec != std::errc() || end != position.data() + position.size())
            throw ServiceError(errors::badRequest, "定位串[" + position + "]无效");
    }
    const std::vector<std::int64_t> branchNos = allowedBranches(ctx.db, branches);
    const std::int64_t limit = requestNum <= 0 ? 30 : std::min<std::int64_t>(requestNum, 1000);

    std::string sql = "SELECT branch_no, client_id, fund_account, discount_rate FROM vip_client "
                      "WHERE fund_account > ?";
    if (fundAccount != 0)
        sql += " AND fund_account = ?";
    if (!branchNos.empty()) {
        sql += " AND branch_no IN (";
        for (std::size_t i = 0; i < branchNos.size(); ++i)
            sql += i ? ",?" : "?";
        sql += ")";
    }
    sql += " ORDER BY fund_account LIMIT ?";
    Statement s = ctx.db.prepare(sql);
    int index = 1;
    s.bind(index++, after);
    if (fundAccount != 0)
        s.bind(index++, fundAccount);
    for (std::int64_t no : branchNos)
        s.bind(index++, no);
    s.bind(index, limit);

    protocol::PacketWriter w(protocol::function::vipList, 0);
    w.addField("branch_no", FieldType::Integer);
    w.addField("client_id", FieldType::Text);
    w.addField("fund_account", FieldType::Integer);
    w.addField("discount_rate", FieldType::Real);
    while (s.step()) {
        w.beginRecord();
        w.integer(s.integer(0));
        w.text(s.text(1));
        w.integer(s.integer(2));
        w.real(s.real(3));
    }
    return finishReply(w);
}

} // namespace backoffice
