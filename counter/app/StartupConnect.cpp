#include "StartupConnect.h"

#include "OperatorWait.h"
#include "TcpTransport.h"
#include "WaitCursor.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <exception>

namespace counter {

QString cannotConnectText() {
    return QStringLiteral("无法连接后台，请确认后台已启动、网络通畅，然后重试。");
}

QString cannotResolveText(const QString& host) {
    return QStringLiteral("无法解析后台服务器名称“%1”：请确认名称无误、本机能够解析它（DNS或/etc/"
                          "hosts），或改用后台服务器的IP地址。")
        .arg(host);
}

void paintWhileWaiting() {
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    // The operator's input is thrown away, as in a request's wait: held back, it would act
    // on whatever the connection's outcome shows (an Enter closing its error unread).
    OperatorWait wait;
    wait.begins();
    wait.pump();
    wait.ends();
}

std::unique_ptr<Transport> connectOrAsk(const std::function<std::unique_ptr<Transport>()>& make,
                                        const std::function<void(QMessageBox&)>& asking,
                                        const std::function<void(const QString&)>& failed) {
    for (;;) {
        QString reason;
        QString text = cannotConnectText();
        try {
            const WaitCursor wait; // gone before the question, on every path
            return make();
        } catch (const UnknownHostError& e) {
            // A name that does not resolve is the room's set-up, not a server that is down.
            reason = QString::fromStdString(e.what());
            text = cannotResolveText(QString::fromStdString(e.host));
        } catch (const std::exception& e) {
            reason = QString::fromStdString(e.what());
        }
        if (failed)
            failed(reason);
        QMessageBox box(QMessageBox::Critical, QStringLiteral("证券柜台"), text);
        box.setDetailedText(reason);
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
