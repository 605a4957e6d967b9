#include "ApplicationWindow.h"

#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget>& window() {
    static QPointer<QWidget> w;
    return w;
}
} // namespace

QWidget* ApplicationWindow() {
    return window();
}

void SetApplicationWindow(QWidget* w) {
    window() = w;
}
