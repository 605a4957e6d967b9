#include "ClsClientInfo.h"

#include "BizRequest.h"
#include "QZForm.h"
#include "ReplyRecords.h"
#include "Tools.h"

bool TClientInfo::LoadClientInfo(std::int32_t fundAccount, const std::string& clientId,
                                 char errorMode) {
    bool result = false;
    StartRequest(owner_, 150010);
    SetRequestField(owner_, "op_branch_no", SessionValue(owner_, "BranchNo"));
    SetRequestField(owner_, "operator_no", SessionValue(owner_, "OperCode"));
    SetRequestField(owner_, "user_type", SessionValue(owner_, "OperatorKind"));
    SetRequestField(owner_, "op_password", SessionValue(owner_, "Password"));
    SetRequestField(owner_, "op_station", SessionValue(owner_, "MAC"));
    SetRequestField(owner_, "op_entrust_way", Variant("4"));
    SetRequestField(owner_, "menu_id", Variant(owner_.menuCode()));
    SetRequestField(owner_, "function_id", Variant(std::int32_t{150010}));
    SetRequestField(owner_, "audit_action", Variant("0"));
    SetRequestField(owner_, "fund_account", Variant(fundAccount));
    SetRequestField(owner_, "client_id", Variant(clientId));
    // The branch of the account resolved last, not the operator's.
    SetRequestField(owner_, "branch_no", Variant(CommonInfo().clientBranchNo));
    SendRequest(owner_);

    if (ReplyReturnCode(owner_) != 0) {
        if (errorMode == '0')
            ShowReplyError(owner_);
        return false;
    }
    const auto text = [this](const char* name) { return VariantToText(ReplyValue(owner_, name)); };
    const auto integer = [this](const char* name) { return ReplyValue(owner_, name).toInt32(); };
    const auto code = [this](const char* name) {
        return FirstChar(ReplyValue(owner_, name).toText());
    };
    for (; !ReplyAtEnd(owner_); ReplyNext(owner_)) {
        result = true;
        client_id = text("client_id");
        branch_no = integer("branch_no");
        dev_branch_no = integer("dev_branch_no");
        client_card = text("client_card");
        client_name = text("client_name");
        corp_client_group = integer("corp_client_group");
        asset_prop = code("asset_prop");
        client_sex = code("client_sex");
        nationality = code("nationality");
        foreign_flag = code("foreign_flag");
        id_kind = code("id_kind");
        id_no = text("id_no");
        open_date = integer("open_date");
        cancel_date = integer("cancel_date");
        client_status = code("client_status");
        id_begindate = integer("id_begindate");
        id_term = integer("id_term");
        risk_level = integer("risk_level");
    }
    return result;
}
