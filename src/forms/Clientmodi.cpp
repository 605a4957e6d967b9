#include "Clientmodi.h"

#include "BizRequest.h"
#include "MessageDialogs.h"
#include "ReplyRecords.h"
#include "TCustomQzEdit.h"
#include "ui_Clientmodi.h"

namespace {

constexpr std::int32_t OpenMenu = 730102;
constexpr std::int32_t CloseMenu = 730103;
constexpr std::int32_t ModifyMenu = 730104;

std::int32_t functionOf(int type) {
    switch (type) {
    case 1:
        return 730001;
    case 2:
        return 730002;
    case 3:
        return 730003;
    default:
        return 730004;
    }
}

// A rate as the back office reads it: two decimals and a decimal point, whatever the locale.
QString rateText(double rate) {
    return QString::number(rate, 'f', 2);
}

} // namespace

TfrmClientmodi::TfrmClientmodi() : ui_(std::make_unique<Ui::TfrmClientmodi>()) {
    ui_->setupUi(this);
    firstRate_ = ui_->hedDicrate->text();
    bindPanel(TClientPanel::of(*ui_));
    TQzEdit& rate = *ui_->hedDicrate;
    rate.setScale(2);
    rate.setStyle(TCustomQzEdit::esNumeric);
    rate.setMax(1);
    rate.setMaxable(true);
    rate.setLeadLabel(ui_->lbDicrate);
    rate.OnValidate = [this](QObject*, bool& valid) { valid = RateWithinBound(); };
}

TfrmClientmodi::~TfrmClientmodi() = default;

void TfrmClientmodi::HostAttached() {
    TAccountFormBase::HostAttached();
    AttachAccountServices();
    ClearInfoLabels(this);
    const auto mode = [this](const QString& caption, const QString& hint, bool rateShown) {
        setWindowTitle(caption);
        ui_->Hinttxt->setText(hint);
        ui_->lbDicrate->setVisible(rateShown);
        ui_->hedDicrate->setVisible(rateShown);
        if (!rateShown)
            CloseRateRow();
    };
    switch (menuCode()) {
    case OpenMenu:
        mode(QStringLiteral("VIP客户开户"), QStringLiteral("会自动开通该客户的委托方式 'Z'"), true);
        SetFontColour(ui_->Hinttxt, QColor(255, 0, 0));
        break;
    case CloseMenu:
        mode(QStringLiteral("VIP客户销户"), QStringLiteral("会自动去除该客户的委托方式 'Z'"),
             false);
        SetFontColour(ui_->Hinttxt, QColor(255, 0, 0));
        break;
    case ModifyMenu:
        mode(QStringLiteral("VIP客户修改"), QString(), true);
        break;
    default:
        break;
    }
}

void TfrmClientmodi::hedQzIDSubAccountValidate(QObject* sender, bool& valid) {
    TAccountFormBase::hedQzIDSubAccountValidate(sender, valid);
    if (!valid)
        return;
    int result = 0;
    if (menuCode() == OpenMenu)
        result = VipClientSet(4);
    else if (menuCode() == CloseMenu || menuCode() == ModifyMenu)
        result = VipClientSet(5);
    if (result < 0) {
        valid = false;
        ClearIdentification();
    }
}

QString TfrmClientmodi::ReviewRateBefore() const {
    return menuCode() == ModifyMenu ? loadedRate_ : QString();
}

int TfrmClientmodi::VipClientSet(int type) {
    int result = -1;
    // A new check loads the client's rate afresh; none stands until it has.
    if (type == 4 || type == 5)
        loadedRate_.clear();
    const std::int32_t functionNo = functionOf(type);
    BeginRequest(*this, functionNo); // the standard header
    SetRequestField(*this, "branch_no", Variant(currentClientBranchNo));
    if (type == 1)
        SetRequestField(*this, "client_id", Variant(ClientInfo()->client_id));
    SetRequestField(*this, "fund_account", Variant(Fund()->fund_account));
    if (type == 1 || type == 3)
        SetRequestField(*this, "discount_rate",
                        Variant(rateText(ui_->hedDicrate->GetAsFloat()).toStdString()));
    SendRequest(*this);
    if (ReplyReturnCode(*this) != 0) {
        ShowReplyError(*this);
        return result;
    }
    std::int32_t records = 0;
    check(GetReader()->RecordCount(&records), "Reader.RecordCount");
    switch (type) {
    case 4:
        if (records > 0)
            ShowWarning(QStringLiteral("该VIP客户已开户!"));
        else
            result = 0;
        break;
    case 5:
        if (records == 0) {
            ShowWarning(QStringLiteral("该VIP客户未开户!"));
        } else {
            loadedRate_ = rateText(ReplyValue(*this, "discount_rate").toReal());
            ui_->hedDicrate->setText(loadedRate_);
            result = 0;
        }
        break;
    default:
        ShowInformation(QStringLiteral("操作成功！"));
        ClearClientEntries();
        result = 0;
        break;
    }
    return result;
}

void TfrmClientmodi::CloseRateRow() {
    // What lies below the rate's row moves up into it, and the form is shorter by it.
    const int rowTop = ui_->lbDicrate->y();
    const int gap = ui_->Hinttxt->y() - rowTop;
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w->y() > rowTop && w != rightPanel() && w != bottomPanel())
            w->move(w->x(), w->y() - gap);
    }
    resize(width(), height() - gap);
}

void TfrmClientmodi::ClearClientEntries() {
    ui_->hedDicrate->setText(firstRate_);
    loadedRate_.clear();
}

bool TfrmClientmodi::RateWithinBound() {
    TQzEdit& rate = *ui_->hedDicrate;
    if (!rate.isVisible() || rate.GetAsFloat() <= 1)
        return true;
    ShowWarning(QStringLiteral("佣金折扣不能大于1，请重新输入！"));
    return false;
}

void TfrmClientmodi::btnOkClick() {
    // A rate the operator has not corrected yet is never sent, nor cut to the bound.
    if (!RateWithinBound()) {
        ui_->hedDicrate->setFocus();
        ui_->hedDicrate->selectAll();
        return;
    }
    if (menuCode() == OpenMenu)
        VipClientSet(1);
    else if (menuCode() == CloseMenu)
        VipClientSet(2);
    else if (menuCode() == ModifyMenu)
        VipClientSet(3);
    ClearIdentification();
}
