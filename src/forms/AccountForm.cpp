#include "AccountForm.h"

#include "MessageDialogs.h"
#include "TCustomQzEdit.h"
#include "TQZIDEdit.h"
#include "TQZSwitchLabel.h"
#include "TQzBitBtn.h"
#include "Tools.h"

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>

namespace {

// The bank number the identification sends: one NUL character.
const std::string noBankNo(1, '\0');

// The caption of a code in a dictionary of the host; empty when there is none.
template <class Key> std::string Caption(const char* dictionary, Key key) {
    std::string caption;
    if (CommonInfo().dictionary)
        CommonInfo().dictionary->Caption(dictionary, key, caption);
    return caption;
}

} // namespace

TAccountFormBase::TAccountFormBase() = default;

TAccountFormBase::~TAccountFormBase() {
    FormDestroy();
}

void TAccountFormBase::bindPanel(const TClientPanel& panel) {
    panel_ = panel;
    panel_.lbQzID->setItems(panel_.hedQzID->Captions());
    panel_.lbQzID->setEdit(panel_.hedQzID);
    panel_.hedQzID->setLeadLabel(panel_.lbQzID);
    panel_.hedQzID->OnValidate = [this](QObject* sender, bool& valid) {
        ClearedOnFailure([&] { hedQzIDValidate(sender, valid); });
    };
    panel_.hedQzID->OnSubAccountValidate = [this](QObject* sender, bool& valid) {
        panel_.btnOk->setEnabled(false);
        ClearedOnFailure([&] { hedQzIDSubAccountValidate(sender, valid); });
        panel_.btnOk->setEnabled(valid);
        // Enter moved on before the client was accepted, past a 确定 still disabled: the
        // operator's next Enter is meant for 确定, not for 取消.
        if (valid && QApplication::focusWidget() == panel_.btnCancel)
            panel_.btnOk->setFocus(Qt::TabFocusReason);
    };
    // Another exchange makes the entry pending again: no client of the old one stays.
    connect(panel_.hedQzID, &TQZIDEdit::exchangeChanged, this, [this] {
        panel_.btnOk->setEnabled(false);
        ClearInfoLabels(this);
    });
    panel_.btnCancel->setCancel(true);
    panel_.btnOk->OnClick = [this](QObject*) { ClearedOnFailure([this] { btnOkClick(); }); };
    panel_.btnCancel->OnClick = [this](QObject*) { btnCancelClick(); };
    // No client is shown yet.
    panel_.btnOk->setEnabled(false);
}

void TAccountFormBase::AttachAccountServices() {
    LoadSession();
    panel_.hedQzID->SetWay(ClientInputKind());
    fund_ = std::make_unique<TFund>(*this);
    sysConfig_ = std::make_unique<TSysConfigList>(*this);
    clientInfo_ = std::make_unique<TClientInfo>(*this);
}

QString TAccountFormBase::ReviewClientName() const {
    return panel_.lbCustName ? panel_.lbCustName->text() : QString();
}

bool TAccountFormBase::HoldsUnsentInput() const {
    return !panel_.hedQzID->text().trimmed().isEmpty() || panel_.btnOk->isEnabled();
}

QWidget* TAccountFormBase::StartingControl() const {
    return panel_.hedQzID;
}

void TAccountFormBase::ClearInfoLabels(QWidget* container) {
    for (QObject* child : container->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (!control)
            continue;
        auto* label = qobject_cast<QLabel*>(control);
        if (label && label->property("tag").toInt() == 1)
            label->clear();
        else if (!label)
            ClearInfoLabels(control);
    }
}

void TAccountFormBase::hedQzIDValidate(QObject*, bool& valid) {
    valid = false;
    // A new identification: the panel shows no client until it has been accepted.
    panel_.btnOk->setEnabled(false);
    ClearInfoLabels(this);
    TQZIDEdit& edit = *panel_.hedQzID;
    const std::string exchange = edit.GetExchange().toStdString();
    if (edit.InputWay() == TQZIDEdit::iwStockAccount || edit.InputWay() == TQZIDEdit::iwNoCaption)
        edit.setText(QString::fromStdString(NormalizeAccountInput(
            sysConfig_->GetAccountLength(), edit.text().toStdString(), exchange, edit.GetWay())));
    if (!fund_->ResolveAccount(edit.GetWay(), exchange, noBankNo, edit.text().toStdString(), '0'))
        return;
    if (edit.InputWay() != TQZIDEdit::iwCustomerNo) {
        valid = true;
        return;
    }
    if (!fund_->LoadAccountInfo(fund_->fund_account))
        return;
    if (!Trim(edit.text().toStdString()).empty())
        edit.setText(QString::fromStdString(fund_->FundAccountInfo.client_id));
    valid = fund_->LoadSubAccounts(edit, edit.text().toStdString());
}

void TAccountFormBase::hedQzIDSubAccountValidate(QObject*, bool& valid) {
    valid = false;
    TQZIDEdit& edit = *panel_.hedQzID;
    const std::string exchange = edit.GetExchange().toStdString();
    if (edit.InputWay() == TQZIDEdit::iwFundAccount) {
        if (!Trim(edit.text().toStdString()).empty())
            edit.setText(QString::number(fund_->fund_account));
    } else if (edit.InputWay() == TQZIDEdit::iwCustomerNo) {
        if (!fund_->ResolveAccount('1', exchange, noBankNo, edit.PickedSubAccount().toStdString(),
                                   '0'))
            return;
    }
    panel_.lbFundAcco->setText(QString::number(fund_->fund_account));
    if (!clientInfo_->LoadClientInfo(fund_->fund_account, "", '0'))
        return;
    panel_.lbCustName->setText(QString::fromStdString(clientInfo_->client_name));
    panel_.lbIDKind->setText(QString::fromStdString(Caption("id_kind", clientInfo_->id_kind)));
    panel_.lbID->setText(QString::fromStdString(clientInfo_->id_no));
    const TFundAccountInfo& account = fund_->FundAccountInfo;
    if (fund_->LoadAccountInfo(fund_->fund_account)) {
        panel_.lbCustGroup->setText(
            QString::fromStdString(Caption("client_group", account.client_group)));
        panel_.lbRoomCode->setText(QString::fromStdString(Caption("room_code", account.room_code)));
        panel_.lbStatus->setText(
            QString::fromStdString(Caption("fundacct_status", account.fundacct_status)));
    }
    // The client status has no dictionary of its own: the fund account's is used. The panel
    // shows the status that refused the client, never another beside the refusal.
    if (clientInfo_->client_status != '0') {
        const QString status =
            QString::fromStdString(Caption("fundacct_status", clientInfo_->client_status));
        panel_.lbStatus->setText(status);
        SetFontColour(panel_.lbStatus, QColor(255, 0, 0));
        ShowInformation(QStringLiteral("该客户客户号状态为  ") + status + QStringLiteral("!!"));
        return;
    }
    if (account.fundacct_status == '0') {
        SetFontColour(panel_.lbStatus, QColor(0, 0, 0));
        valid = true;
        return;
    }
    ShowInformation(QStringLiteral("该客户资金账户状态为  ") + panel_.lbStatus->text() +
                    QStringLiteral("!!"));
    SetFontColour(panel_.lbStatus, QColor(255, 0, 0));
}

void TAccountFormBase::SetFontColour(QWidget* control, const QColor& colour) {
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText, colour);
    control->setPalette(palette);
}

void TAccountFormBase::btnCancelClick() {
    // Esc reaches both FormKeyDown and the cancel button: the form closes once.
    if (isVisible())
        CloseUnvalidated();
}

void TAccountFormBase::FormKeyDown(QKeyEvent* key) {
    if (key->key() == Qt::Key_Escape &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        QApplication::mouseButtons() == Qt::NoButton && isVisible())
        CloseUnvalidated();
}

void TAccountFormBase::CloseUnvalidated() {
    // Giving up the form is not entering what its edits hold: nothing is validated on the
    // way out, so nothing is sent.
    for (auto* edit : findChildren<TCustomQzEdit*>())
        edit->discardEntry();
    close();
}

void TAccountFormBase::FormDestroy() {
    fund_.reset();
    sysConfig_.reset();
    clientInfo_.reset();
}

void TAccountFormBase::ClearIdentification() {
    panel_.hedQzID->setFocus();
    panel_.hedQzID->Clear();
    ClearInfoLabels(this);
    panel_.btnOk->setEnabled(false);
    ClearClientEntries();
}

void TAccountFormBase::ClearedOnFailure(const std::function<void()>& step) {
    // A raised error is a request whose outcome is unknown (no reply, a broken link, a
    // time-out): as after a refusal, nothing stays ready to be sent again unchecked; the
    // operator starts over with a new identification and its checks.
    try {
        step();
    } catch (...) {
        ClearIdentification();
        throw;
    }
}
