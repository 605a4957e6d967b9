#pragma once
// Acts on a modal dialog once it is up, from inside its own modal loop, as an operator
// would: `reference` gives the module's reference to the dialog.

#include <QApplication>
#include <QPointer>
#include <QTimer>

#include <functional>

template <class Dialog>
void WhenShown(QPointer<Dialog>& (*reference)(), std::function<void(Dialog&)> act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, reference, act] {
        Dialog* dialog = reference();
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(*dialog);
    });
    timer->start();
}
