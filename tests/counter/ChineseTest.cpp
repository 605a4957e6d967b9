// Everything an operator reads at the counter is Chinese: Qt's own buttons and dialogs,
// the module's dialogs in the counter's process, with the technical line only behind the
// dialog's details.

#include "CounterHost.h"
#include "HostClasses.h"
#include "LoginDialog.h"
#include "MainWindow.h"
#include "ModuleLoader.h"
#include "QtTranslations.h"
#include "ServerThread.h"
#include "TcpTransport.h"

#include "protocol/Service.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace {

QStringList buttonTexts(const QMessageBox& box) {
    QStringList texts;
    for (const QAbstractButton* b : box.buttons())
        texts << b->text();
    return texts;
}

} // namespace

TEST(QtTranslations, StandardButtonsAndTheFileDialogSpeakChineseWhileLoaded) {
    {
        const counter::QtTranslations chinese;
        ASSERT_TRUE(chinese.installed()) << "Qt's translations (qt6-translations-l10n) missing";
        QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), QStringLiteral("正文"),
                        QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
        box.setDetailedText(QStringLiteral("ARCom.Send failed with status 0x80041004"));
        QStringList texts = buttonTexts(box);
        texts.sort();
        EXPECT_EQ(texts.join('|'), QStringLiteral("取消|否(&N)|是(&Y)|显示详情...|确定"));
        // The save-file dialog of the preview, as Qt draws it.
        QFileDialog save(nullptr, QStringLiteral("保存"));
        save.setOption(QFileDialog::DontUseNativeDialog);
        save.setAcceptMode(QFileDialog::AcceptSave);
        auto* buttons = save.findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        EXPECT_EQ(buttons->button(QDialogButtonBox::Save)->text(), QStringLiteral("保存(&S)"));
    }
    // Gone with the object: the process is as it was.
    QMessageBox box(QMessageBox::Warning, QString(), QString(), QMessageBox::Ok);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("OK"));
}

TEST(QtTranslations, AFolderWithoutThemInstallsNothing) {
    QTemporaryDir empty;
    const counter::QtTranslations none(empty.path());
    EXPECT_FALSE(none.installed());
}

// The module's error dialog in the counter: the counter's link broke while the VIP list
// refreshed. The operator reads words and Chinese buttons; the operation and its status
// are behind 显示详情...
TEST(ChineseCounter, TheModulesErrorDialogKeepsTheTechnicalLineBehindItsDetails) {
    ASSERT_EQ(counter::registerHostClasses(), hr::ok);
    const counter::QtTranslations chinese;
    QTemporaryDir dir;
    std::shared_ptr<protocol::PacketService> service(
        protocol::openBackOfficeService(dir.filePath("office.db").toStdString()));
    auto server = std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000));
    {
        counter::CounterHost host(
            std::make_unique<counter::TcpTransport>("127.0.0.1", server->server.port()));
        ASSERT_EQ(host.login("1001", "pass1001", "1"), "");
        counter::ModuleLoader module(counter::ModuleLoader::defaultPath());
        counter::MainWindow window(host, module);
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(window.openFunction(730105));
        auto* page = qobject_cast<QScrollArea*>(window.tabs()->currentWidget());
        ASSERT_NE(page, nullptr);
        auto* list = page->widget()->findChild<QAbstractItemView*>("lvVipClientInfo");
        ASSERT_NE(list, nullptr);
        // The list's headers are the training dictionary's captions.
        EXPECT_EQ(list->model()->headerData(2, Qt::Horizontal).toString(),
                  QStringLiteral("资产账号"));

        server.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QString text;
        QString detail;
        QStringList buttons;
        QString detailsShown;
        auto* timer = new QTimer(qApp);
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [&, timer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer->stop();
            timer->deleteLater();
            text = box->text();
            detail = box->detailedText();
            buttons = buttonTexts(*box);
            box->button(QMessageBox::Ok)->click();
        });
        timer->start();
        // Offscreen no window manager gives the window the keyboard back after the wait
        // popup of the first page; the operator's click into the list would.
        QApplication::setActiveWindow(&window);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_F5);
        EXPECT_EQ(text, QStringLiteral("与后台的连接已断开，请稍后重试。"));
        EXPECT_EQ(detail, QStringLiteral("ARCom.Send failed with status 0x80041004"));
        EXPECT_EQ(buttons.join('|'), QStringLiteral("确定|显示详情..."));
    }
    counter::unregisterHostClasses();
}

// A login while the back office has gone away: the operator reads words, the technical
// line is on the message's tooltip.
TEST(ChineseCounter, ALoginThatCannotReachTheBackOfficeSaysSoInWords) {
    ASSERT_EQ(counter::registerHostClasses(), hr::ok);
    QTemporaryDir dir;
    std::shared_ptr<protocol::PacketService> service(
        protocol::openBackOfficeService(dir.filePath("office.db").toStdString()));
    auto server = std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000));
    {
        counter::CounterHost host(
            std::make_unique<counter::TcpTransport>("127.0.0.1", server->server.port()));
        server.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        counter::LoginDialog login([&](const QString& op, const QString& pw) {
            return QString::fromStdString(host.login(op.toStdString(), pw.toStdString(), "1"));
        });
        login.prefill(QStringLiteral("1001"), QStringLiteral("pass1001"));
        EXPECT_FALSE(login.tryLogin());
        const auto* message = login.findChild<QLabel*>(QStringLiteral("message"));
        EXPECT_EQ(message->text(), QStringLiteral("与后台的连接已断开，请稍后重试。"));
        EXPECT_EQ(message->toolTip(), QStringLiteral("Send failed with status 0x80041004"));
    }
    counter::unregisterHostClasses();
}
