#include "SysConfig.h"

#include "BizRequest.h"
#include "QZForm.h"
#include "ReplyRecords.h"

bool TSysConfigList::QueryConfig(std::int32_t config_no, std::int32_t& value,
                                 std::int32_t branch_no) {
    if (branch_no == 0)
        branch_no = CommonInfo().branchNo;
    StartRequest(owner_, 105006);
    // This request's header carries the password and neither user_type nor menu_id.
    SetRequestField(owner_, "op_branch_no", SessionValue(owner_, "BranchNo"));
    SetRequestField(owner_, "operator_no", SessionValue(owner_, "OperCode"));
    SetRequestField(owner_, "op_password", SessionValue(owner_, "Password"));
    SetRequestField(owner_, "op_station", SessionValue(owner_, "MAC"));
    SetRequestField(owner_, "op_entrust_way", Variant("4"));
    SetRequestField(owner_, "function_id", Variant(std::int32_t{105006}));
    SetRequestField(owner_, "branch_no", Variant(branch_no));
    SetRequestField(owner_, "config_no", Variant(config_no));
    SendRequest(owner_);
    if (ReplyReturnCode(owner_) != 0) {
        ShowReplyError(owner_);
        return false;
    }
    if (ReplyAtEnd(owner_))
        return false;
    value = ReplyValue(owner_, "int_config").toInt32();
    return true;
}

std::int32_t TSysConfigList::GetAccountLength() {
    std::int32_t value = 0;
    QueryConfig(AccountLengthConfigNo, value, 0);
    return value;
}
