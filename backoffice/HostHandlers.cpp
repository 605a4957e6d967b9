// The counter's own requests at login: the operator, the branches he may serve, his menu
// functions and the dictionaries.

#include "BackOffice.h"

namespace backoffice {

using protocol::FieldType;

std::string handleOperatorLogin(HandlerContext& ctx) {
    protocol::PacketWriter w(protocol::function::login, 0);
    w.addField("operator_name", FieldType::Text);
    w.addField("operator_kind", FieldType::Text);
    w.addField("branch_no", FieldType::Integer);
    w.addField("main_branch_no", FieldType::Integer);
    w.beginRecord();
    w.text(ctx.op.name);
    w.text(ctx.op.kind);
    w.integer(ctx.op.branchNo);
    w.integer(ctx.office.mainBranchNo(ctx.db));
    return finishReply(w);
}

std::string handleOperatorBranches(HandlerContext& ctx) {
    Statement s =
        ctx.db.prepare("SELECT branch_no, branch_name, branch_type FROM branch ORDER BY branch_no");
    protocol::PacketWriter w(protocol::function::operatorBranches, 0);
    w.addField("branch_no", FieldType::Integer);
    w.addField("branch_name", FieldType::Text);
    w.addField("branch_type", FieldType::Text);
    while (s.step()) {
        w.beginRecord();
        w.integer(s.integer(0));
        w.text(s.text(1));
        w.text(s.text(2));
    }
    return finishReply(w);
}

std::string handleOperatorFunctions(HandlerContext& ctx) {
    Statement s = ctx.db.prepare("SELECT menu_code, caption FROM operator_function "
                                 "WHERE operator_no = ? ORDER BY menu_code");
    s.bind(1, ctx.op.operatorNo);
    protocol::PacketWriter w(protocol::function::operatorFunctions, 0);
    w.addField("menu_code", FieldType::Integer);
    w.addField("caption", FieldType::Text);
    while (s.step()) {
        w.beginRecord();
        w.integer(s.integer(0));
        w.text(s.text(1));
    }
    return finishReply(w);
}

std::string handleDictionary(HandlerContext& ctx) {
    Statement s = ctx.db.prepare(
        "SELECT dict_name, item_key, caption FROM dictionary ORDER BY dict_name, item_key");
    protocol::PacketWriter w(protocol::function::dictionary, 0);
    w.addField("dict_name", FieldType::Text);
    w.addField("item_key", FieldType::Text);
    w.addField("caption", FieldType::Text);
    while (s.step()) {
        w.beginRecord();
        w.text(s.text(0));
        w.text(s.text(1));
        w.text(s.text(2));
    }
    return finishReply(w);
}

} // namespace backoffice
