#pragma once
// TfrmFaceAudit: the counter-side review. A second operator signs with his number and
// password, which the back office verifies (request 360042, sent on the business form that
// asked for the review); up to two values can be checked against expected ones.

#include "Variant.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace Ui {
class TfrmFaceAudit;
}
class TBizFormBase;

class TfrmFaceAudit : public QDialog {
    Q_OBJECT
public:
    // The dialog's result when the back office voided the review: the business was not
    // done, and the refusal that said so is in refusal().
    static constexpr int Voided = 2;

    // `owner` is the business form whose request asked for the review.
    explicit TfrmFaceAudit(TBizFormBase& owner);
    ~TfrmFaceAudit() override;

    void Setup(const QString& label1, const QString& value1, char option1, const QString& label2,
               const QString& value2, char option2);
    void setReviewer(const QString& reviewer, std::int32_t processNo);
    // What is being reviewed, one line each, shown above the reviewer; the dialog grows
    // to fit. Nothing shows for no lines.
    void setSummary(const QStringList& lines);
    QString reviewer() const { return reviewer_; }
    std::int32_t processNo() const { return processNo_; }
    const Variant& refusal() const { return refusal_; }

    Ui::TfrmFaceAudit& ui() { return *ui_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void hedOperatorChange();
    void hedValue1Validate(bool& valid);
    void hedValue2Validate(bool& valid);
    void hedPasswordValidate(bool& valid);
    void hbtnOKClick();
    // The reviewer's password was accepted: the approval stands until 确认 or 取消.
    void grant();
    // The password field keeps the focus with the reason said.
    void askPassword();

    TBizFormBase& owner_;
    std::unique_ptr<Ui::TfrmFaceAudit> ui_;
    QString label1_, value1_, label2_, value2_;
    char option1_ = ' ';
    char option2_ = ' ';
    QString reviewer_;
    std::int32_t processNo_ = 0;
    bool granted_ = false; // the back office accepted the reviewer's password
    Variant refusal_;
};

// The one module-wide review dialog, while a review is under way.
QPointer<TfrmFaceAudit>& FaceAudit();

// Creates the review dialog for the form and releases it (once its events are processed)
// on every path.
class FaceAuditHold {
public:
    explicit FaceAuditHold(TBizFormBase& owner);
    ~FaceAuditHold();
    FaceAuditHold(const FaceAuditHold&) = delete;
    FaceAuditHold& operator=(const FaceAuditHold&) = delete;
    TfrmFaceAudit* operator->() const { return dialog_; }

private:
    TfrmFaceAudit* dialog_;
};

enum class ReviewAnswer { Granted, Refused, Voided };

// The review request 360042 on the owner form. Refused: the failure dialog has said why.
// Voided: the back office ended the review (the refusal is in `reply`, not shown yet).
ReviewAnswer SendReview(TBizFormBase& form, const QString& reviewer, const QString& password,
                        std::int32_t processNo, Variant& reply);
