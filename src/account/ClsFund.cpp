#include "ClsFund.h"

#include "BizRequest.h"
#include "MessageDialogs.h"
#include "QZForm.h"
#include "ReplyRecords.h"
#include "TQZIDEdit.h"
#include "Tools.h"

#include <QStringList>

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace {

// An organisation audit date that is not a valid integer stands for "no date".
constexpr std::int32_t NoAuditDate = 29991231;

bool isFuturesExchange(const std::string& exchange) {
    return exchange == "F1" || exchange == "F2" || exchange == "F3" || exchange == "F4";
}

std::int32_t integerOr(const std::string& text, std::int32_t fallback) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    return text.empty() || ec != std::errc() || stop != end ? fallback : value;
}

void setHeaderField(TBizFormBase& form, const char* name, const char* sessionKey) {
    SetRequestField(form, name, SessionValue(form, sessionKey));
}

} // namespace

void TDeputyList::Add(Block block) {
    items_.push_back(std::move(block));
}

void TDeputyList::Delete(std::size_t index) {
    if (index >= Count())
        throw std::out_of_range("TDeputyList.Delete: index out of range");
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

TDeputyList::Block TDeputyList::Extract(void* item) {
    const auto found = std::find_if(items_.begin(), items_.end(),
                                    [item](const Block& b) { return b.get() == item; });
    if (found == items_.end())
        return Block();
    Block taken = std::move(*found);
    items_.erase(found);
    return taken;
}

TFund::TFund(TQZFormBase& owner)
    : owner_(owner), sysConfig_(std::make_unique<TSysConfigList>(owner)),
      deputyList_(std::make_unique<TDeputyList>()) {}

TFund::~TFund() = default;

bool TFund::ResolveAccount(char way, const std::string& exchange, const std::string& bankNo,
                           const std::string& entry, char errorMode) {
    const std::string exchangeHead(1, exchange.empty() ? '\0' : exchange.front());
    const std::string content =
        NormalizeAccountInput(sysConfig_->GetAccountLength(), entry, exchangeHead, way);
    if (way == '5' && isFuturesExchange(exchange))
        way = 'A';

    StartRequest(owner_, 200086);
    setHeaderField(owner_, "op_branch_no", "BranchNo");
    setHeaderField(owner_, "operator_no", "OperCode");
    setHeaderField(owner_, "user_type", "OperatorKind");
    setHeaderField(owner_, "op_station", "MAC");
    SetRequestField(owner_, "op_entrust_way", Variant("4"));
    SetRequestField(owner_, "menu_id", Variant(owner_.menuCode()));
    SetRequestField(owner_, "function_id", Variant(std::int32_t{200086}));
    SetRequestField(owner_, "input_content", Variant(std::string(1, way)));
    SetRequestField(owner_, "bank_no", Variant("0"));
    SetRequestField(owner_, "check_type", Variant("0"));
    switch (way) {
    case '1':
    case '2':
    case '5':
    case 'A':
        SetRequestField(owner_, "account_type", Variant(exchange));
        break;
    case '4':
        // The packer keeps the first position of bank_no and takes this value.
        SetRequestField(owner_, "bank_no", Variant(bankNo));
        break;
    default:
        SetRequestField(owner_, "account_type", Variant("0"));
        break;
    }
    SetRequestField(owner_, "account_content", Variant(content));
    SetRequestField(owner_, "branch_no", Variant(CommonInfo().branchNo));
    SendRequest(owner_);

    if (ReplyReturnCode(owner_) != 0) {
        if (errorMode == '0')
            ShowReplyError(owner_);
        return false;
    }
    // A success without a record resolves nothing: reading on would take the empty fields
    // past the end for fund account 0.
    if (ReplyAtEnd(owner_))
        return false;
    fund_account = ReplyValue(owner_, "fund_account").toInt32();
    account_type = FirstChar(ReplyValue(owner_, "account_type").toText());
    const std::int32_t branchNo = ReplyValue(owner_, "branch_no").toInt32();
    CommonInfo().clientBranchNo = branchNo;
    owner_.currentClientBranchNo = branchNo;
    // A fixed text buffer: the value ends at its first NUL, then at the capacity.
    account_content =
        CutToCapacity(VariantToText(ReplyValue(owner_, "account_content")), AccountContentCapacity);
    return true;
}

bool TFund::LoadAccountInfo(std::int32_t fundAccount) {
    StartRequest(owner_, 200076);
    setHeaderField(owner_, "op_branch_no", "BranchNo");
    setHeaderField(owner_, "operator_no", "OperCode");
    setHeaderField(owner_, "user_type", "OperatorKind");
    setHeaderField(owner_, "op_station", "MAC");
    SetRequestField(owner_, "op_entrust_way", Variant("4"));
    SetRequestField(owner_, "menu_id", Variant(owner_.menuCode()));
    SetRequestField(owner_, "client_id", Variant(""));
    SetRequestField(owner_, "function_id", Variant(std::int32_t{200076}));
    SetRequestField(owner_, "fund_account", Variant(fundAccount));
    SendRequest(owner_);

    if (ReplyReturnCode(owner_) != 0) {
        ShowReplyError(owner_);
        return false;
    }
    if (ReplyAtEnd(owner_)) {
        ShowInformation(QStringLiteral("客户不存在"));
        return false;
    }
    const auto text = [this](const char* name) { return ReplyValue(owner_, name).toText(); };
    const auto integer = [this](const char* name) { return ReplyValue(owner_, name).toInt32(); };
    const auto code = [&text](const char* name) { return FirstChar(text(name)); };
    TFundAccountInfo& info = FundAccountInfo;
    for (; !ReplyAtEnd(owner_); ReplyNext(owner_)) {
        info.client_id = text("client_id");
        info.branch_no = integer("branch_no");
        info.fund_card = text("fund_card");
        info.main_flag = code("main_flag");
        info.client_group = integer("client_group");
        info.room_code = integer("room_code");
        info.asset_prop = code("asset_prop");
        info.fare_kind_str = text("fare_kind_str");
        info.en_entrust_way = text("en_entrust_way");
        info.client_rights = text("client_rights");
        info.restriction = text("restriction");
        info.open_trades = text("open_trades");
        info.profit_flag = code("profit_flag");
        info.bank_no = text("bank_no");
        info.open_date = integer("open_date");
        info.cancel_date = integer("cancel_date");
        info.fundacct_status = code("fundacct_status");
        info.organ_flag = code("organ_flag");
        info.organ_audit_date = integerOr(text("organ_audit_date"), NoAuditDate);
        info.square_flag = code("square_flag");
        info.remark = text("remark");
        info.discount_rate = ReplyValue(owner_, "discount_rate").toReal();
        info.product_flag = code("product_flag");
    }
    return true;
}

bool TFund::LoadSubAccounts(TQZIDEdit& edit, const std::string& clientId) {
    QStringList lines;
    StartRequest(owner_, 200105);
    setHeaderField(owner_, "op_branch_no", "BranchNo");
    setHeaderField(owner_, "operator_no", "OperCode");
    setHeaderField(owner_, "user_type", "OperatorKind");
    setHeaderField(owner_, "op_password", "Password");
    setHeaderField(owner_, "op_station", "MAC");
    SetRequestField(owner_, "op_entrust_way", Variant("4"));
    SetRequestField(owner_, "menu_id", Variant(owner_.menuCode()));
    SetRequestField(owner_, "function_id", Variant(std::int32_t{200105}));
    SetRequestField(owner_, "branch_no", Variant(std::int32_t{0}));
    SetRequestField(owner_, "audit_action", Variant("0"));
    SetRequestField(owner_, "action_in", Variant(std::int32_t{0}));
    SetRequestField(owner_, "client_id", Variant(clientId));
    SendRequest(owner_);

    if (ReplyReturnCode(owner_) != 0) {
        ShowReplyError(owner_);
        return false;
    }
    if (ReplyAtEnd(owner_)) {
        ShowWarning(QStringLiteral("该客户号无对应资产账户！"));
        return false;
    }
    for (; !ReplyAtEnd(owner_); ReplyNext(owner_))
        lines << QString::fromStdString(ReplyValue(owner_, "fund_account").toText());
    edit.SetSubAccounts(lines);
    return true;
}
