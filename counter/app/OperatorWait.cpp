#include "OperatorWait.h"

#include <QApplication>
#include <QEvent>
#include <QThread>

bool OperatorWait::onGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void OperatorWait::begins() {
    if (!onGuiThread())
        return;
    if (depth_++ == 0)
        qApp->installEventFilter(this);
}

void OperatorWait::pump() {
    if (!onGuiThread() || depth_ == 0)
        return;
    if (!hourglass_ && qobject_cast<QApplication*>(QCoreApplication::instance()))
        hourglass_.emplace();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void OperatorWait::ends() {
    if (!onGuiThread() || depth_ == 0)
        return;
    // The input held back while the wait lasted is read now, to the last event, while it
    // is still thrown away.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (--depth_ > 0)
        return;
    qApp->removeEventFilter(this);
    hourglass_.reset();
}

bool OperatorWait::eventFilter(QObject* watched, QEvent* event) {
    // Input is taken from the widgets; the windows still see it, so their own state (which
    // widget holds the mouse, which has the focus) stays right.
    if (!watched->isWidgetType())
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so that no shortcut fires; the key press then follows and is discarded.
        event->accept();
        return true;
    case QEvent::Close:
        if (!event->spontaneous())
            return false;
        event->ignore(); // the window's close box: the form must not go mid-request
        ++discarded_;
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        ++discarded_;
        return true;
    default:
        return false;
    }
}
