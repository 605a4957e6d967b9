#include "UFaceAudit.h"

#include "BizForm.h"
#include "BizRequest.h"
#include "DialogKeys.h"
#include "ui_UFaceAudit.h"

#include "MessageDialogs.h"

#include <QFont>
#include <QGroupBox>
#include <QLabel>

TfrmFaceAudit::TfrmFaceAudit(TBizFormBase& owner)
    : QDialog(&owner), owner_(owner), ui_(std::make_unique<Ui::TfrmFaceAudit>()) {
    ui_->setupUi(this);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(13);
    setFont(font);
    setFixedSize(293, 373);
    ui_->hedOperator->setLeadLabel(ui_->lbOperator);
    ui_->hedPassword->setLeadLabel(ui_->lbPassword);
    // The reviewer may go back to 柜员 to change the reviewer: the password is sent on Enter
    // in its field and on 确认 only, never on leaving it.
    ui_->hedPassword->setValidateOnLeave(false);
    ui_->hbtnCancel->setCancel(true);
    ui_->hbtnCancel->setModalResult(TQzBitBtn::mrCancel);
    ui_->hedOperator->OnChange = [this](QObject*) { hedOperatorChange(); };
    ui_->hedPassword->OnValidate = [this](QObject*, bool& valid) { hedPasswordValidate(valid); };
    ui_->hedValue1->OnValidate = [this](QObject*, bool& valid) { hedValue1Validate(valid); };
    ui_->hedValue2->OnValidate = [this](QObject*, bool& valid) { hedValue2Validate(valid); };
    ui_->hbtnOK->OnClick = [this](QObject*) { hbtnOKClick(); };
    new TDialogKeys(*this);
}

TfrmFaceAudit::~TfrmFaceAudit() = default;

void TfrmFaceAudit::Setup(const QString& label1, const QString& value1, char option1,
                          const QString& label2, const QString& value2, char option2) {
    const auto check = [](const QString& label, QLabel* name, QWidget* edit) {
        if (label.isEmpty()) {
            name->hide();
            edit->hide();
            return false;
        }
        name->setText(label);
        return true;
    };
    if (check(label1, ui_->lbName1, ui_->hedValue1)) {
        label1_ = label1;
        value1_ = value1;
        option1_ = option1;
    }
    if (check(label2, ui_->lbName2, ui_->hedValue2)) {
        label2_ = label2;
        value2_ = value2;
        option2_ = option2;
    }
    if (label1.isEmpty() && label2.isEmpty()) {
        // No checks: the parameter group goes, and the bevel and the dialog are shorter
        // by its height; the buttons keep to the bottom.
        const int h = ui_->gbxAuditParams->height();
        ui_->gbxAuditParams->hide();
        ui_->Bevel1->resize(ui_->Bevel1->width(), ui_->Bevel1->height() - h);
        for (QWidget* button :
             {static_cast<QWidget*>(ui_->hbtnOK), static_cast<QWidget*>(ui_->hbtnCancel)})
            button->move(button->x(), button->y() - h);
        setFixedSize(width(), height() - h);
    }
}

void TfrmFaceAudit::setReviewer(const QString& reviewer, std::int32_t processNo) {
    reviewer_ = reviewer;
    processNo_ = processNo;
}

void TfrmFaceAudit::setSummary(const QStringList& lines) {
    if (lines.isEmpty())
        return;
    const QRect first = ui_->gbxAuditOperator->geometry();
    auto* box = new QGroupBox(QStringLiteral("复核内容"), this);
    box->setObjectName(QStringLiteral("gbxAuditSummary"));
    auto* label = new QLabel(lines.join(QLatin1Char('\n')), box);
    label->setObjectName(QStringLiteral("lbSummary"));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    const int labelWidth = first.width() - 32;
    label->setGeometry(16, 28, labelWidth, label->heightForWidth(labelWidth));
    box->setGeometry(first.x(), first.y(), first.width(), label->height() + 40);
    // Everything the dialog had moves down by the summary; the bevel frames it too.
    const int shift = box->height() + 12;
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w != box && w != ui_->Bevel1)
            w->move(w->x(), w->y() + shift);
    }
    ui_->Bevel1->resize(ui_->Bevel1->width(), ui_->Bevel1->height() + shift);
    setFixedSize(width(), height() + shift);
    box->show();
}

void TfrmFaceAudit::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TfrmFaceAudit::FormShow() {
    ui_->hedOperator->setText(reviewer_.trimmed());
    ui_->hedPassword->setFocus();
    // Enter in the empty field asks for the password rather than passing it by.
    ui_->hedPassword->markPending();
}

void TfrmFaceAudit::hedOperatorChange() {
    ui_->hedPassword->clear();
    ui_->hedPassword->markPending();
    ui_->hbtnOK->setDefault(false);
    granted_ = false;
}

void TfrmFaceAudit::hedValue1Validate(bool& valid) {
    if (!label1_.isEmpty() && ui_->hedValue1->text() != value1_)
        valid = false;
}

void TfrmFaceAudit::hedValue2Validate(bool& valid) {
    if (!label2_.isEmpty() && ui_->hedValue2->text() != value2_)
        valid = false;
}

void TfrmFaceAudit::askPassword() {
    ShowWarning(QStringLiteral("请输入复核密码"));
    ui_->hedPassword->setFocus();
}

void TfrmFaceAudit::hedPasswordValidate(bool& valid) {
    // The back office has taken the approval: it stands, and is not asked for again.
    if (granted_)
        return;
    ui_->hbtnOK->setDefault(false);
    if (ui_->hedPassword->GetAsPassword().isEmpty()) {
        // An empty password is never sent: it could only count as a wrong one.
        askPassword();
        valid = false;
        return;
    }
    const ReviewAnswer answer = SendReview(owner_, ui_->hedOperator->text(),
                                           ui_->hedPassword->GetAsPassword(), processNo_, refusal_);
    if (answer == ReviewAnswer::Voided) {
        // Nothing is left to review: the dialog goes, and the form says what became of the
        // business.
        valid = false;
        done(Voided);
        return;
    }
    valid = answer == ReviewAnswer::Granted;
    if (valid)
        grant();
    // Accepted: 确认 takes the focus where no value is left to check, and shows it.
    if (granted_ && ui_->hedValue1->isHidden() && ui_->hedValue2->isHidden()) {
        ui_->hbtnOK->setDefault(true);
        ui_->hbtnOK->setFocus(Qt::TabFocusReason);
    }
}

void TfrmFaceAudit::grant() {
    // The back office took this reviewer's approval for this review once and for all:
    // another reviewer now would only be told that the review is done. The reviewer and
    // the password stay as approved until 确认 resends with the approval, or 取消.
    granted_ = true;
    ui_->lbGranted->setText(QStringLiteral("已由柜员%1复核通过").arg(ui_->hedOperator->text()));
    ui_->lbGranted->show();
    ui_->hedOperator->setReadOnly(true);
    ui_->hedPassword->setReadOnly(true);
}

void TfrmFaceAudit::hbtnOKClick() {
    // Every check runs before OK: a password not yet verified is verified now, once.
    if (!granted_) {
        ui_->hedPassword->markPending();
        if (!ui_->hedPassword->validateEntry() || !granted_)
            return;
    }
    bool valid = true;
    hedValue1Validate(valid);
    hedValue2Validate(valid);
    if (!valid) {
        (label1_.isEmpty() || ui_->hedValue1->text() == value1_ ? ui_->hedValue2 : ui_->hedValue1)
            ->setFocus();
        return;
    }
    done(QDialog::Accepted);
}

QPointer<TfrmFaceAudit>& FaceAudit() {
    static QPointer<TfrmFaceAudit> dialog;
    return dialog;
}

FaceAuditHold::FaceAuditHold(TBizFormBase& owner) : dialog_(new TfrmFaceAudit(owner)) {
    FaceAudit() = dialog_;
}

FaceAuditHold::~FaceAuditHold() {
    FaceAudit() = nullptr;
    dialog_->hide();
    dialog_->deleteLater();
}

ReviewAnswer SendReview(TBizFormBase& form, const QString& reviewer, const QString& password,
                        std::int32_t processNo, Variant& reply) {
    BeginRequest(form, 360042);
    SetRequestField(form, "op_password", SessionValue(form, "Password"));
    SetRequestField(form, "process_id", Variant(std::int64_t{processNo}));
    SetRequestField(form, "audit_branch_no", Variant(std::int64_t{0}));
    SetRequestField(form, "audit_operator_no", Variant(reviewer.toStdString()));
    SetRequestField(form, "auditop_password", Variant(password.toStdString()));
    SetRequestField(form, "audit_level", Variant(std::int64_t{1}));
    SetRequestField(form, "occur_date", Variant(std::int64_t{0}));
    SetRequestField(form, "task_serial_no", Variant(std::int64_t{0}));
    SetRequestField(form, "audit_remark", Variant(std::string(1, '\0')));
    ExecuteRequest(form, 10000, {}, {}, ' ', {}, {}, ' ', 0, reply);
    std::int32_t code = 0;
    check(form.GetReader()->ReturnCode(&code), "Reader.ReturnCode");
    if (code == 0)
        return ReviewAnswer::Granted;
    if (ReplyEndsReview(form))
        return ReviewAnswer::Voided;
    ShowReplyError(form);
    return ReviewAnswer::Refused;
}
