#include "ClientSyncReq.h"

#include "BizRequest.h"
#include "MessageDialogs.h"
#include "ReplyRecords.h"
#include "ui_ClientSyncReq.h"

TfrmClientSyncReq::TfrmClientSyncReq() : ui_(std::make_unique<Ui::TfrmClientSyncReq>()) {
    ui_->setupUi(this);
    bindPanel(TClientPanel::of(*ui_));
}

TfrmClientSyncReq::~TfrmClientSyncReq() = default;

void TfrmClientSyncReq::HostAttached() {
    TAccountFormBase::HostAttached();
    AttachAccountServices();
    // The item index is the sync type sent.
    ui_->hcbOpType->Clear();
    ui_->hcbOpType->AddItem(QStringLiteral("0|全部"));
    ui_->hcbOpType->AddItem(QStringLiteral("1|资金"));
    ui_->hcbOpType->AddItem(QStringLiteral("2|股份"));
    ui_->hcbOpType->setItemIndex(0);
    ClearInfoLabels(this);
}

void TfrmClientSyncReq::btnOkClick() {
    BeginRequest(*this, 730000); // the standard header
    SetRequestField(*this, "branch_no", Variant(currentClientBranchNo));
    SetRequestField(*this, "fund_account", Variant(Fund()->fund_account));
    SetRequestField(*this, "sync_type", Variant(std::int32_t{ui_->hcbOpType->ItemIndex()}));
    SendRequest(*this);
    if (ReplyReturnCode(*this) != 0)
        ShowReplyError(*this);
    else
        ShowInformation(QStringLiteral("发送同步请求成功！"));
    ClearIdentification();
}
