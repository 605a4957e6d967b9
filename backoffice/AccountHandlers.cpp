// The account requests: configuration, resolution of an account entry, the fund account
// record, a client's fund accounts and the client's information.

#include "BackOffice.h"
#include "Records.h"

#include <charconv>

namespace backoffice {

using protocol::FieldType;

namespace {

std::string trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return std::string(s);
}

// A fund account number typed as text (leading zeros allowed), or 0.
std::int64_t accountNumber(std::string_view text) {
    const std::string s = trimmed(text);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return s.empty() || ec != std::errc() || end != s.data() + s.size() || value <= 0 ? 0 : value;
}

std::int64_t lookupAccount(Database& db, std::string_view sql, std::string_view a,
                           std::string_view b = {}) {
    Statement s = db.prepare(sql);
    s.bind(1, a);
    if (!b.empty())
        s.bind(2, b);
    return s.step() ? s.integer(0) : 0;
}

// A bank card's fund account. The counter sends a blank bank number (the forms send one NUL
// character) when the operator did not choose a bank: the card number alone then decides,
// as long as only one bank has it.
std::int64_t bankCardAccount(Database& db, const std::string& card, const std::string& bankNo) {
    if (!bankNo.empty())
        return lookupAccount(
            db, "SELECT fund_account FROM bank_card WHERE bank_account = ? AND bank_no = ?", card,
            bankNo);
    Statement s = db.prepare("SELECT fund_account FROM bank_card WHERE bank_account = ? LIMIT 2");
    s.bind(1, card);
    if (!s.step())
        return 0;
    const std::int64_t fundAccount = s.integer(0);
    if (s.step())
        throw ServiceError(errors::badRequest, "银行卡号[" + card + "]对应多家银行，请指定银行");
    return fundAccount;
}

} // namespace

std::string handleSysConfig(HandlerContext& ctx) {
    const std::int32_t branchNo = ctx.request.int32("branch_no");
    const std::int32_t configNo = ctx.request.int32("config_no");
    Statement s =
        ctx.db.prepare("SELECT int_config FROM sys_config WHERE config_no = ? AND branch_no = ?");
    s.bind(1, std::int64_t{configNo}).bind(2, std::int64_t{branchNo});
    protocol::PacketWriter w(protocol::function::sysConfig, 0);
    w.addField("config_no", FieldType::Integer);
    w.addField("branch_no", FieldType::Integer);
    w.addField("int_config", FieldType::Integer);
    if (s.step()) {
        w.beginRecord();
        w.integer(configNo);
        w.integer(branchNo);
        w.integer(s.integer(0));
    }
    return finishReply(w);
}

std::string handleResolveAccount(HandlerContext& ctx) {
    const Request& r = ctx.request;
    const std::string way = r.text("input_content");
    const std::string bankNo = r.text("bank_no");
    r.text("check_type");
    r.int32("branch_no");
    const std::string entry = r.text("account_content");
    const std::string exchange = way == "4" ? std::string() : r.text("account_type");

    std::int64_t fundAccount = 0;
    std::string accountType = "0";
    if (way == "1" || way == "2") {
        fundAccount = accountNumber(entry);
    } else if (way == "3") {
        fundAccount = lookupAccount(
            ctx.db, "SELECT fund_account FROM fund_card WHERE fund_card = ?", trimmed(entry));
    } else if (way == "4") {
        fundAccount = bankCardAccount(ctx.db, trimmed(entry), trimmed(bankNo));
    } else if (way == "5" || way == "A") {
        fundAccount = lookupAccount(ctx.db,
                                    "SELECT fund_account FROM stock_holder "
                                    "WHERE stock_account = ? AND exchange_type = ?",
                                    trimmed(entry), exchange);
        accountType = exchange;
    } else if (way == "6") {
        const std::string clientId = trimmed(entry);
        fundAccount = lookupAccount(ctx.db,
                                    "SELECT fund_account FROM fund_account WHERE client_id = ? "
                                    "ORDER BY main_flag DESC, fund_account LIMIT 1",
                                    clientId);
        if (fundAccount == 0 && clientExists(ctx.db, clientId))
            throw ServiceError(errors::unknownAccount, "客户[" + clientId + "]无对应资产账户");
    } else {
        throw ServiceError(errors::badRequest, "不支持的输入方式[" + way + "]");
    }
    const auto account = fundAccount != 0 ? loadFundAccount(ctx.db, fundAccount) : std::nullopt;
    if (!account)
        throw ServiceError(errors::unknownAccount, "账户[" + trimmed(entry) + "]不存在");

    protocol::PacketWriter w(protocol::function::resolveAccount, 0);
    w.addField("fund_account", FieldType::Integer);
    w.addField("account_type", FieldType::Text);
    w.addField("branch_no", FieldType::Integer);
    w.addField("account_content", FieldType::Text);
    w.addField("client_id", FieldType::Text);
    w.beginRecord();
    w.integer(account->fundAccount);
    w.text(accountType);
    w.integer(account->branchNo);
    w.text(trimmed(entry));
    w.text(account->clientId);
    return finishReply(w);
}

std::string handleFundAccount(HandlerContext& ctx) {
    ctx.request.text("client_id");
    const std::int64_t fundAccount = ctx.request.integer("fund_account");
    Statement s = ctx.db.prepare(
        "SELECT client_id, branch_no, fund_card, main_flag, client_group, room_code, asset_prop, "
        "fare_kind_str, en_entrust_way, client_rights, restriction, open_trades, profit_flag, "
        "bank_no, open_date, cancel_date, fundacct_status, organ_flag, organ_audit_date, "
        "square_flag, remark, discount_rate, product_flag FROM fund_account "
        "WHERE fund_account = ?");
    s.bind(1, fundAccount);
    if (!s.step())
        throw ServiceError(errors::unknownAccount,
                           "资金账户[" + std::to_string(fundAccount) + "]不存在");
    static const struct {
        const char* name;
        FieldType type;
    } columns[] = {
        {"client_id", FieldType::Text},        {"branch_no", FieldType::Integer},
        {"fund_card", FieldType::Text},        {"main_flag", FieldType::Text},
        {"client_group", FieldType::Integer},  {"room_code", FieldType::Integer},
        {"asset_prop", FieldType::Text},       {"fare_kind_str", FieldType::Text},
        {"en_entrust_way", FieldType::Text},   {"client_rights", FieldType::Text},
        {"restriction", FieldType::Text},      {"open_trades", FieldType::Text},
        {"profit_flag", FieldType::Text},      {"bank_no", FieldType::Text},
        {"open_date", FieldType::Integer},     {"cancel_date", FieldType::Integer},
        {"fundacct_status", FieldType::Text},  {"organ_flag", FieldType::Text},
        {"organ_audit_date", FieldType::Text}, {"square_flag", FieldType::Text},
        {"remark", FieldType::Text},           {"discount_rate", FieldType::Real},
        {"product_flag", FieldType::Text},
    };
    protocol::PacketWriter w(protocol::function::fundAccount, 0);
    for (const auto& c : columns)
        w.addField(c.name, c.type);
    w.beginRecord();
    int i = 0;
    for (const auto& c : columns) {
        if (c.type == FieldType::Integer)
            w.integer(s.integer(i));
        else if (c.type == FieldType::Real)
            w.real(s.real(i));
        else
            w.text(s.text(i));
        ++i;
    }
    return finishReply(w);
}

std::string handleSubAccounts(HandlerContext& ctx) {
    const Request& r = ctx.request;
    r.int32("branch_no");
    r.text("audit_action");
    r.int32("action_in");
    const std::string clientId = trimmed(r.text("client_id"));
    if (!clientExists(ctx.db, clientId))
        throw ServiceError(errors::unknownClient, "客户[" + clientId + "]不存在");
    Statement s = ctx.db.prepare(
        "SELECT fund_account FROM fund_account WHERE client_id = ? ORDER BY fund_account");
    s.bind(1, clientId);
    protocol::PacketWriter w(protocol::function::subAccounts, 0);
    w.addField("fund_account", FieldType::Integer);
    while (s.step()) {
        w.beginRecord();
        w.integer(s.integer(0));
    }
    return finishReply(w);
}

std::string handleClientInfo(HandlerContext& ctx) {
    const Request& r = ctx.request;
    r.text("audit_action");
    const std::int64_t fundAccount = r.integer("fund_account");
    std::string clientId = trimmed(r.text("client_id"));
    r.int32("branch_no");
    if (clientId.empty()) {
        const auto account = loadFundAccount(ctx.db, fundAccount);
        if (!account)
            throw ServiceError(errors::unknownAccount,
                               "资金账户[" + std::to_string(fundAccount) + "]不存在");
        clientId = account->clientId;
    }
    Statement s = ctx.db.prepare(
        "SELECT client_id, branch_no, dev_branch_no, client_card, client_name, "
        "corp_client_group, asset_prop, client_sex, nationality, foreign_flag, id_kind, id_no, "
        "open_date, cancel_date, client_status, id_begindate, id_term, risk_level "
        "FROM client WHERE client_id = ?");
    s.bind(1, clientId);
    if (!s.step())
        throw ServiceError(errors::unknownClient, "客户[" + clientId + "]不存在");
    static const struct {
        const char* name;
        bool isInteger;
    } columns[] = {
        {"client_id", false},    {"branch_no", true},    {"dev_branch_no", true},
        {"client_card", false},  {"client_name", false}, {"corp_client_group", true},
        {"asset_prop", false},   {"client_sex", false},  {"nationality", false},
        {"foreign_flag", false}, {"id_kind", false},     {"id_no", false},
        {"open_date", true},     {"cancel_date", true},  {"client_status", false},
        {"id_begindate", true},  {"id_term", true},      {"risk_level", true},
    };
    protocol::PacketWriter w(protocol::function::clientInfo, 0);
    for (const auto& c : columns)
        w.addField(c.name, c.isInteger ? FieldType::Integer : FieldType::Text);
    w.beginRecord();
    int i = 0;
    for (const auto& c : columns) {
        if (c.isInteger)
            w.integer(s.integer(i));
        else
            w.text(s.text(i));
        ++i;
    }
    return finishReply(w);
}

} // namespace backoffice
