#include "TCustomQzEdit.h"

#include "EventBarrier.h"
#include "KeyPreview.h"
#include "TQzBitBtn.h"

#include <QApplication>
#include <QDoubleValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>

TCustomQzEdit::TCustomQzEdit(QWidget* parent) : QLineEdit(parent) {
    // Only what the operator types asks for a validation; texts set by handlers do not.
    connect(this, &QLineEdit::textEdited, this, [this] {
        pending_ = true;
        refused_ = false;
    });
    connect(this, &QLineEdit::textChanged, this, [this] {
        EventBarrier::run([this] {
            if (OnChange)
                OnChange(this);
        });
    });
}

void TCustomQzEdit::setLeadLabel(QLabel* label) {
    leadLabel_ = label;
    if (label)
        label->setBuddy(this);
}

void TCustomQzEdit::setStyle(TEditStyle style) {
    style_ = style;
    if (style == esNumeric) {
        auto* validator = new QDoubleValidator(0, 1e15, scale_, this);
        validator->setNotation(QDoubleValidator::StandardNotation);
        validator->setLocale(QLocale::c());
        setValidator(validator);
        setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    } else {
        setValidator(nullptr);
    }
}

void TCustomQzEdit::setScale(int decimals) {
    scale_ = decimals;
    if (style_ == esNumeric)
        setStyle(esNumeric);
}

double TCustomQzEdit::GetAsFloat() const {
    bool ok = false;
    const double value = QLocale::c().toDouble(text().trimmed(), &ok);
    return ok ? value : 0.0;
}

bool TCustomQzEdit::validateEntry() {
    if (!pending_ || validating_)
        return true;
    pending_ = false;
    refused_ = false;
    validating_ = true;
    discarded_ = false;
    answeredKey_ = KeyPreview::current();
    bool valid = EventBarrier::validate([this](bool& v) {
        if (OnValidate)
            OnValidate(this, v);
    });
    // Over the upper bound the entry is refused; the operator's text stays for correction.
    if (valid && style_ == esNumeric && maxable_ && GetAsFloat() > max_)
        valid = false;
    if (valid)
        valid = entryAccepted();
    validating_ = false;
    if (!valid) {
        pending_ = !discarded_;
        refused_ = pending_;
        setFocus();
        selectAll();
    }
    return valid;
}

void TCustomQzEdit::discardEntry() {
    pending_ = false;
    if (validating_)
        discarded_ = true;
}

void TCustomQzEdit::keyPressEvent(QKeyEvent* event) {
    const bool answered = answeredKey_ == event;
    answeredKey_ = nullptr;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !answered)
        validateEntry();
    QLineEdit::keyPressEvent(event);
}

void TCustomQzEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A popup of this edit (its own list) is not leaving the field, nor is the window
    // losing the focus (another window, or this one closing), nor the form going away.
    // Going to a cancel button is giving up, not entering.
    // An entry refused and not changed since is not refused a second time on leaving.
    // A part of the edit itself (the identifier edit's exchange box) is not leaving it, nor
    // is the host's menu: its keys are the menu's, and a check then would bring what the
    // entry offers (a pick list the operator closed) back over the menu.
    if (!validateOnLeave_ || refused_ || event->reason() == Qt::PopupFocusReason ||
        event->reason() == Qt::MenuBarFocusReason ||
        event->reason() == Qt::ActiveWindowFocusReason || !isVisible() ||
        isAncestorOf(QApplication::focusWidget()))
        return;
    if (const auto* to = qobject_cast<TQzBitBtn*>(QApplication::focusWidget());
        to && to->isCancel())
        return;
    validateEntry();
}
