#include "QueryVipInfo.h"

#include "BizRequest.h"
#include "Tools.h"
#include "ui_QueryVipInfo.h"
#include "waitquery.h"

QPointer<TfrmVipInfoCondition>& VipInfoConditionDialog() {
    static QPointer<TfrmVipInfoCondition> dialog;
    return dialog;
}

TfrmQueryVipInfo::TfrmQueryVipInfo() : ui_(std::make_unique<Ui::TfrmQueryVipInfo>()) {
    ui_->setupUi(this);
    ui_->lvVipClientInfo->setColumns({"branch_no", "client_id", "fund_account", "discount_rate"},
                                     {110, 80, 100, 60});
    ui_->lvVipClientInfo->setTotalBar(ui_->lbTotal);
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
    IARCom* com = GetARCom();
    check(com ? hr::ok : hr::notFound, "GetObject(ARCom)");
    check(com->InitRequest(730004, GetPacker()), "ARCom.InitRequest");
    // The standard header with op_password after user_type.
    SetRequestField(*this, "op_branch_no", SessionValue(*this, "BranchNo"));
    SetRequestField(*this, "operator_no", SessionValue(*this, "OperCode"));
    SetRequestField(*this, "user_type", SessionValue(*this, "OperatorKind"));
    SetRequestField(*this, "op_password", SessionValue(*this, "Password"));
    SetRequestField(*this, "op_station", SessionValue(*this, "MAC"));
    SetRequestField(*this, "op_entrust_way", Variant("4"));
    SetRequestField(*this, "menu_id", Variant(std::int64_t{menuCode()}));
    SetRequestField(*this, "function_id", Variant(std::int64_t{730004}));
    SetRequestField(*this, "branch_no", Variant(std::int64_t{currentClientBranchNo}));
    SetRequestField(*this, "en_branch_no", Variant(condition.en_branch_no));
    SetRequestField(*this, "fund_account", Variant(std::int64_t{condition.fund_account}));
    SetRequestField(*this, "position_str", Variant(condition.position_str));
    SetRequestField(*this, "request_num", Variant(std::int64_t{condition.request_num}));
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
        const int before = list->rowCount();
        list->SetData(list->rowCount(), 0, 100, 0, 100, reply, QString());
        for (int c = 0; c < list->columnCount(); ++c)
            list->SetTranslateFields(c, true);
        // A page shorter than asked for is the last one: no more is asked for until F5 or a
        // new condition fills the list again.
        if (list->rowCount() - before < condition.request_num)
            list->setMoreWanted(false);
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
