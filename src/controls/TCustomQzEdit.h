#pragma once
// The edit all input edits derive from: a lead label, a validation event fired when the
// operator has entered something (on Enter, or on leaving the field after typing), a
// change event, and the numeric style.

#include <QLineEdit>
#include <QPointer>

#include <functional>

#include <QLabel>

class TCustomQzEdit : public QLineEdit {
    Q_OBJECT
public:
    enum TEditStyle { esNormal, esNumeric };

    explicit TCustomQzEdit(QWidget* parent = nullptr);

    // (Sender, var valid): valid comes in true; false rejects the entry and keeps the
    // operator in the field.
    std::function<void(QObject* sender, bool& valid)> OnValidate;
    std::function<void(QObject* sender)> OnChange;

    void setLeadLabel(QLabel* label);
    QLabel* leadLabel() const { return leadLabel_; }

    // Numeric style: digits with at most `Scale` decimals, at most `Max` when Maxable.
    void setStyle(TEditStyle style);
    TEditStyle style() const { return style_; }
    void setScale(int decimals);
    void setMax(double max) { max_ = max; }
    void setMaxable(bool on) { maxable_ = on; }
    double GetAsFloat() const;

    // Runs the validation now when something was entered since the last one; false when
    // it rejected the entry.
    bool validateEntry();
    // The entry is to be validated again on the next Enter or leaving.
    void markPending() { pending_ = true; }
    // Nothing is to be validated any more: the entry was cleared or the form is going.
    // Inside a validation, its refusal then leaves nothing pending either.
    void discardEntry();
    // Whether leaving the field validates its entry (on by default); off, only Enter and
    // an explicit validateEntry do.
    void setValidateOnLeave(bool on) { validateOnLeave_ = on; }
    bool validatesOnLeave() const { return validateOnLeave_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    // After OnValidate accepted the entry; the identifier edit continues here. False
    // refuses the entry after all.
    virtual bool entryAccepted() { return true; }

private:
    QPointer<QLabel> leadLabel_;
    TEditStyle style_ = esNormal;
    int scale_ = 0;
    double max_ = 0;
    bool maxable_ = false;
    bool pending_ = false;
    bool validating_ = false;
    bool discarded_ = false; // discardEntry during the running validation
    bool refused_ = false;   // the entry was refused and is unchanged since
    bool validateOnLeave_ = true;
    const QEvent* answeredKey_ = nullptr; // the previewed key a validation already answered
};
