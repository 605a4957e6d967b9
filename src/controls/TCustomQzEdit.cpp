#include "TCustomQzEdit.h"

#include "EventBarrier.h"
#include "KeyPreview.h"

#include <QDoubleValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>

TCustomQzEdit::TCustomQzEdit(QWidget* parent) : QLineEdit(parent) {
    // Only what the operator types asks for a validation; texts set by handlers do not.
    connect(this, &QLineEdit::textEdited, this, [this] { pending_ = true; });
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
    validating_ = true;
    answeredKey_ = KeyPreview::current();
    bool valid = true;
    if (style_ == esNumeric && maxable_ && GetAsFloat() > max_) {
        // Over the upper bound: the edit keeps the bound.
        setText(QLocale::c().toString(max_, 'f', scale_));
    }
    valid = EventBarrier::validate([this](bool& v) {
        if (OnValidate)
            OnValidate(this, v);
    });
    if (valid)
        entryAccepted();
    validating_ = false;
    if (!valid) {
        pending_ = true;
        setFocus();
        selectAll();
    }
    return valid;
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
    // losing the focus (another window, or this one closing).
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        validateEntry();
}
