#include "QueryVipInfo.h"

#include "BizRequest.h"
#include "Tools.h"
#include "ui_QueryVipInfo.h"
#include "waitquery.h"

namespace {
void setField(IPackerDisp* packer, const char* name, const Variant& value) {
    HostPtr<IFieldDisp> field;
    check(packer->Field(Variant(name), field.put()), "Packer.Field");
    check(field->SetValue(value), "Field.SetValue");
}
} // namespace

QPointer<TfrmVipInfoCondition>& VipInfoConditionDialog() {
    static QPointer<TfrmVipInfoCondition> dialog;
    return dialog;
}

TfrmQueryVipInfo::TfrmQueryVipInfo() : ui_(std::make_unique<Ui::TfrmQueryVipInfo>()) {
    ui_->setupUi(this);
    ui_->lvVipClientInfo->setColumns({"branch_no", "client_id", "fund_account", "discount_rate"},
                                     {110, 80, 100, 60});
    ui_->lvVipClientInfo->setTotalCaption(QStringLiteral("汇总"));
    ui_->lvVipClientInfo->OnGetNewPage = [this](QObject*, int, int) {
        lvVipClientInfoGetNewPage();
    };
    ui_->hbtQuery->OnClick = [this](QObject*) { hbtQueryClick(); };
    ui_->htbCancle->OnClick = [this](QObject*) { htbCancleClick(); };
}

TfrmQueryVipInfo::~TfrmQueryVipInfo() = default;

void TfrmQueryVipInfo::HostAttached() {
    TQZFormBase::HostAttached();
    LoadSession();
    condition = TVipInfoCondition{};
    ui_->lvVipClientInfo->setDictionary(GetDictionary());
    LoadPage();
}

void TfrmQueryVipInfo::QryInfo(Variant& reply) {
    IPackerDisp* packer = GetPacker();
    check(GetARCom() ? hr::ok : hr::notFound, "GetObject(ARCom)");
    check(GetARCom()->InitRequest(730004, packer), "ARCom.InitRequest");
    const auto session = [this](const char* key) {
        Variant value;
        check(GetStorage()->GetValue(key, &value),
              (std::string("PersonalData.GetValue(") + key + ")").c_str());
        return value;
    };
    setField(packer, "op_branch_no", session("BranchNo"));
    setField(packer, "operator_no", session("OperCode"));
    setField(packer, "user_type", session("OperatorKind"));
    setField(packer, "op_password", session("Password"));
    setField(packer, "op_station", session("MAC"));
    setField(packer, "op_entrust_way", Variant("4"));
    setField(packer, "menu_id", Variant(std::int64_t{menuCode()}));
    setField(packer, "function_id", Variant(std::int64_t{730004}));
    setField(packer, "branch_no", Variant(std::int64_t{currentClientBranchNo}));
    setField(packer, "en_branch_no", Variant(condition.en_branch_no));
    setField(packer, "fund_account", Variant(std::int64_t{condition.fund_account}));
    setField(packer, "position_str", Variant(condition.position_str));
    setField(packer, "request_num", Variant(std::int64_t{condition.request_num}));
    Variant result;
    ExecuteRequest(*this, 5000, {}, {}, ' ', {}, {}, ' ', 0, result);
    std::int32_t code = 0;
    check(GetReader()->ReturnCode(&code), "Reader.ReturnCode");
    if (code != 0) {
        ShowReplyError(*this);
        reply = Variant();
        return;
    }
    reply = result;
}

void TfrmQueryVipInfo::LoadPage() {
    const WaitQueryGuard waiting(QStringLiteral("正在查询，请稍等......"));
    Variant reply;
    QryInfo(reply);
    TQZListViewEx* list = ui_->lvVipClientInfo;
    if (!reply.isEmpty()) {
        list->SetData(list->rowCount(), 0, 100, 0, 100, reply, QString());
        for (int c = 0; c < list->columnCount(); ++c)
            list->SetTranslateFields(c, true);
    }
    if (list->rowCount() > 0)
        list->setItemIndex(0);
}

void TfrmQueryVipInfo::Refresh() {
    // The list starts again from its first page: the cursor of the last page shown would
    // fetch from the middle.
    condition.position_str = "0";
    ui_->lvVipClientInfo->Clear();
    LoadPage();
    ui_->lvVipClientInfo->setFocus();
    if (ui_->lvVipClientInfo->rowCount() > 0)
        ui_->lvVipClientInfo->setItemIndex(0);
}

void TfrmQueryVipInfo::QueryNext() {
    LoadPage();
    ui_->lvVipClientInfo->setFocus();
}

void TfrmQueryVipInfo::lvVipClientInfoGetNewPage() {
    TQZListViewEx* list = ui_->lvVipClientInfo;
    if (list->rowCount() > 0) {
        const Variant last = list->GetMasterData(list->rowCount() - 1, "fund_account");
        condition.position_str = CutToCapacity(std::to_string(last.toInteger()), 32);
    }
    QueryNext();
}

void TfrmQueryVipInfo::FormKeyDown(QKeyEvent* key) {
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return;
    if (key->key() == Qt::Key_Escape)
        close();
    else if (key->key() == Qt::Key_F5)
        Refresh();
}

void TfrmQueryVipInfo::hbtQueryClick() {
    int result = QDialog::Rejected;
    {
        auto dialog = std::make_unique<TfrmVipInfoCondition>(condition, this);
        VipInfoConditionDialog() = dialog.get();
        struct Forget {
            ~Forget() { VipInfoConditionDialog() = nullptr; }
        } forget;
        result = dialog->exec();
    }
    if (result == QDialog::Accepted) {
        Refresh();
        ui_->lvVipClientInfo->setFocus();
    }
}

void TfrmQueryVipInfo::htbCancleClick() {
    close();
}
