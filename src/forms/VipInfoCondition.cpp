#include "VipInfoCondition.h"

#include "DialogKeys.h"
#include "QZForm.h"
#include "ui_VipInfoCondition.h"

#include <charconv>

TfrmVipInfoCondition::TfrmVipInfoCondition(TVipInfoCondition& condition, QWidget* owner)
    : QDialog(owner), condition_(condition), ui_(std::make_unique<Ui::TfrmVipInfoCondition>()) {
    ui_->setupUi(this);
    ui_->hccmbBranchNo->setLeadLabel(ui_->lbBranchNo);
    ui_->hccmbBranchNo->setNullable(true);
    ui_->hccmbBranchNo->setForceSeparate(true);
    ui_->hccmbBranchNo->setValueWidth(30);
    ui_->hccmbBranchNo->setDropDownWidth(200);
    ui_->hbtnOK->setModalResult(TQzBitBtn::mrOk);
    ui_->hbtnOK->OnClick = [this](QObject*) { hbtnOKClick(); };
    ui_->hbtnCancel->setModalResult(TQzBitBtn::mrCancel);
    ui_->hbtnCancel->setCancel(true);
    FormCreate();
    new TDialogKeys(*this);
}

TfrmVipInfoCondition::~TfrmVipInfoCondition() = default;

void TfrmVipInfoCondition::FormCreate() {
    QStringList branches;
    if (CommonInfo().branchList)
        CommonInfo().branchList->FillBranches(branches, "");
    ui_->hccmbBranchNo->setItems(branches);
    ui_->hccmbBranchNo->setText(QString::fromStdString(condition_.en_branch_no));
    // 0 is no condition: the field shows it empty, and empty means every account.
    ui_->cmfundaccout->setText(
        condition_.fund_account == 0 ? QString() : QString::number(condition_.fund_account));
}

void TfrmVipInfoCondition::hbtnOKClick() {
    const std::string branches = ui_->hccmbBranchNo->text().toStdString();
    condition_.en_branch_no = branches.size() > 255 ? std::string() : branches;
    const std::string text = ui_->cmfundaccout->text().toStdString();
    std::int32_t account = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), account);
    condition_.fund_account = ec == std::errc() && end == text.data() + text.size() ? account : 0;
}
