#pragma once
// The hourglass for the life of a scope, restored on every path out of it, an error
// included. The screen cursor is the platform's, and host and module both wait on it: the
// guard sits here, at the boundary both of them include, so that neither depends on the
// other for it. Header-only: only programs with a user interface include it. Off the user
// interface thread, or without a graphical application, it does nothing.

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QThread>

class WaitCursor {
public:
    WaitCursor() : shown_(canShow()) {
        if (shown_)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~WaitCursor() {
        if (shown_)
            QGuiApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    static bool canShow() {
        const QCoreApplication* app = QCoreApplication::instance();
        return qobject_cast<const QGuiApplication*>(app) &&
               QThread::currentThread() == app->thread();
    }

    bool shown_;
};
