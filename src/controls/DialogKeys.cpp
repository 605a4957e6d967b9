#include "DialogKeys.h"

#include "EventBarrier.h"
#include "TCustomQzEdit.h"
#include "TQzBitBtn.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>

TDialogKeys::TDialogKeys(QDialog& dialog) : QObject(&dialog), dialog_(dialog) {
    // A key goes to the focus widget first: the dialog must see it there, before an edit
    // or a button takes it.
    qApp->installEventFilter(this);
}

TDialogKeys::~TDialogKeys() {
    qApp->removeEventFilter(this);
}

bool TDialogKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || watched != QApplication::focusWidget() ||
        !dialog_.isAncestorOf(static_cast<QWidget*>(watched)))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    auto* focus = static_cast<QWidget*>(watched);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        EventBarrier::run([&] {
            if (auto* button = qobject_cast<TQzBitBtn*>(focus)) {
                button->Click();
            } else if (auto* plain = qobject_cast<QPushButton*>(focus)) {
                plain->click();
            } else {
                auto* edit = qobject_cast<TCustomQzEdit*>(focus);
                if (!edit || edit->validateEntry())
                    moveOn(focus);
            }
        });
        return true;
    case Qt::Key_Escape:
        EventBarrier::run([this] { cancel(); });
        return true;
    default:
        return false;
    }
}

void TDialogKeys::moveOn(QWidget* from) {
    // The next control in tab order that takes the focus, wrapping round.
    for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
        if (dialog_.isAncestorOf(w) && w->isEnabled() && w->isVisibleTo(&dialog_) &&
            (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void TDialogKeys::cancel() {
    // The dialog's cancel button, as a click; else the dialog closes as cancelled.
    for (auto* button : dialog_.findChildren<TQzBitBtn*>()) {
        if (button->isCancel() && button->isEnabled()) {
            button->Click();
            return;
        }
    }
    dialog_.reject();
}
