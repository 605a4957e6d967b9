#include "StartupConnect.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <exception>

namespace counter {

void paintWhileWaiting() {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString cannotConnectText(const QString& reason) {
    return QStringLiteral("无法连接后台，请确认后台已启动、网络通畅，然后重试。\n%1").arg(reason);
}

std::unique_ptr<Transport> connectOrAsk(const std::function<std::unique_ptr<Transport>()>& make,
                                        const std::function<void(QMessageBox&)>& asking) {
    for (;;) {
        QString reason;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        try {
            auto transport = make();
            QApplication::restoreOverrideCursor();
            return transport;
        } catch (const std::exception& e) {
            reason = QString::fromStdString(e.what());
        }
        QApplication::restoreOverrideCursor();
        QMessageBox box(QMessageBox::Critical, QStringLiteral("C_Marlo 柜台"),
                        cannotConnectText(reason));
        QPushButton* retry = box.addButton(QStringLiteral("重试(&R)"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("退出(&Q)"), QMessageBox::RejectRole);
        box.setDefaultButton(retry);
        if (asking)
            asking(box);
        box.exec();
        if (box.clickedButton() != retry)
            return nullptr;
    }
}

} // namespace counter
