#include "TQzBitBtn.h"

#include "EventBarrier.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>

TQzBitBtn::TQzBitBtn(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] { Click(); });
}

void TQzBitBtn::Click() {
    if (!EventBarrier::run([this] {
            if (OnClick)
                OnClick(this);
        }))
        return;
    if (modalResult_ == mrNone)
        return;
    if (auto* dialog = qobject_cast<QDialog*>(window()))
        dialog->done(modalResult_);
}

void TQzBitBtn::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods =
        event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    const QString text = event->text();
    if (mods == Qt::NoModifier && !text.isEmpty() && text.at(0).isPrint() &&
        event->key() != Qt::Key_Space) {
        QApplication::beep();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void TQzBitBtn::showEvent(QShowEvent* event) {
    QPushButton::showEvent(event);
    // The cancel button hears Esc anywhere in its window while it shows: a form in a tab
    // of the host's window that is not in front is not the one the operator means.
    if (cancel_ && !watching_) {
        window()->installEventFilter(this);
        watching_ = true;
    }
}

bool TQzBitBtn::eventFilter(QObject* watched, QEvent* event) {
    if (cancel_ && watched == window() && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier && isEnabled() &&
        isVisible()) {
        Click();
        return true;
    }
    return QPushButton::eventFilter(watched, event);
}
