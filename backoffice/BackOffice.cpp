#include "BackOffice.h"

#include <map>

namespace backoffice {

namespace {

using Handler = std::string (*)(HandlerContext&);

const std::map<std::int32_t, Handler>& handlers() {
    static const std::map<std::int32_t, Handler> table{
        {105006, &handleSysConfig},        {200086, &handleResolveAccount},
        {200076, &handleFundAccount},      {200105, &handleSubAccounts},
        {150010, &handleClientInfo},       {730000, &handleClientSync},
        {730001, &handleVipOpen},          {730002, &handleVipClose},
        {730003, &handleVipModify},        {730004, &handleVipList},
        {360042, &handleReview},           {100001, &handleOperatorLogin},
        {100002, &handleOperatorBranches}, {100003, &handleOperatorFunctions},
        {100004, &handleDictionary},
    };
    return table;
}

} // namespace

BackOffice::BackOffice(const std::string& dbPath) : db_(dbPath) {}

std::int32_t BackOffice::mainBranchNo() {
    Statement s = db_.prepare("SELECT min(branch_no) FROM branch WHERE branch_type = '0'");
    return s.step() && !s.isNull(0) ? static_cast<std::int32_t>(s.integer(0)) : 0;
}

Operator BackOffice::findOperator(const std::string& operatorNo) {
    Statement s = db_.prepare("SELECT operator_no, operator_name, operator_kind, branch_no, "
                              "can_review, password_hash FROM operator WHERE operator_no = ?");
    s.bind(1, operatorNo);
    if (!s.step())
        throw ServiceError(errors::unknownOperator, "操作员[" + operatorNo + "]不存在");
    return {s.text(0),         s.text(1), s.text(2), static_cast<std::int32_t>(s.integer(3)),
            s.integer(4) != 0, s.text(5)};
}

void BackOffice::checkPassword(const Operator& op, std::string_view password) {
    if (!passwords_.verify(op.operatorNo, op.passwordHash, password))
        throw ServiceError(errors::wrongPassword, "操作员[" + op.operatorNo + "]密码错误");
}

std::string BackOffice::handle(std::string_view requestPacket) {
    protocol::PacketView packet;
    const protocol::DecodeStatus status = packet.decode(requestPacket);
    if (status != protocol::DecodeStatus::Ok)
        return errorReply(0, errors::badRequest,
                          std::string("请求包格式错误：") + protocol::describe(status));
    std::lock_guard lock(mutex_);
    try {
        return dispatch(packet);
    } catch (const ServiceError& e) {
        return errorReply(packet.functionNo(), e.errorNo(), e.what(),
                          e.errorNo() == errors::reviewRequired ? errors::reviewRequired : 0);
    } catch (const std::exception& e) {
        return errorReply(packet.functionNo(), errors::serverFault,
                          std::string("后台处理异常：") + e.what());
    }
}

std::string BackOffice::dispatch(const protocol::PacketView& packet) {
    const Request request(packet);
    const auto handler = handlers().find(packet.functionNo());
    if (handler == handlers().end())
        throw ServiceError(errors::unknownFunction,
                           "功能号[" + std::to_string(packet.functionNo()) + "]不存在");
    // The header every request carries.
    request.int32("op_branch_no");
    request.text("op_station");
    request.text("op_entrust_way");
    if (request.int32("function_id") != packet.functionNo())
        throw ServiceError(errors::badRequest, "请求字段[function_id]与功能号不符");
    HandlerContext ctx{*this, db_, request, findOperator(request.text("operator_no"))};
    if (request.has("op_password"))
        checkPassword(ctx.op, request.text("op_password"));
    return handler->second(ctx);
}

} // namespace backoffice
