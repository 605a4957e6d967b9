#include "CounterHost.h"
#include "EmbeddedTransport.h"
#include "HostClasses.h"
#include "LoginDialog.h"
#include "MainWindow.h"
#include "ModuleLoader.h"
#include "ServerThread.h"
#include "StartupConnect.h"
#include "TcpTransport.h"
#include "TranscriptTransport.h"

#include "protocol/Service.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

void saveScreen(QWidget& w, const char* name) {
    QDir().mkpath(QStringLiteral(SCREEN_DIR));
    w.grab().save(QStringLiteral(SCREEN_DIR "/%1.png").arg(QLatin1String(name)));
}

// The counter as an operator meets it: the real module loaded beside the test, the
// training back office embedded or served over TCP on loopback.
class CounterWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        ASSERT_TRUE(dir.isValid());
        service = std::shared_ptr<protocol::PacketService>(
            protocol::openBackOfficeService(dir.filePath("office.db").toStdString()));
    }
    void TearDown() override {
        window.reset();
        module.reset();
        host.reset();
        counter::unregisterHostClasses();
    }

    void start(std::unique_ptr<counter::Transport> transport) {
        host = std::make_unique<counter::CounterHost>(std::move(transport));
        ASSERT_EQ(host->login("1001", "pass1001", "1"), "");
        module = std::make_unique<counter::ModuleLoader>(counter::ModuleLoader::defaultPath());
        window = std::make_unique<counter::MainWindow>(*host, *module);
        window->show();
        QApplication::setActiveWindow(window.get());
    }

    QWidget* shownForm() const {
        auto* page = qobject_cast<QScrollArea*>(window->tabs()->currentWidget());
        return page ? page->widget() : nullptr;
    }

    // Answers the next message box with its first button and gives its text.
    static void whenMessageShows(QString& text, QString* detail = nullptr) {
        auto* timer = new QTimer(qApp);
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, &text, detail] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer->stop();
            timer->deleteLater();
            text = box->text();
            if (detail)
                *detail = box->detailedText();
            box->buttons().first()->click();
        });
        timer->start();
    }

    QTemporaryDir dir;
    std::shared_ptr<protocol::PacketService> service;
    std::unique_ptr<counter::CounterHost> host;
    std::unique_ptr<counter::ModuleLoader> module;
    std::unique_ptr<counter::MainWindow> window;
};

} // namespace

TEST_F(CounterWindowTest, ARefusedPasswordIsSelectedForRetyping) {
    host = std::make_unique<counter::CounterHost>(
        std::make_unique<counter::EmbeddedTransport>(service));
    counter::LoginDialog login([&](const QString& op, const QString& pw) {
        return QString::fromStdString(host->login(op.toStdString(), pw.toStdString(), "1"));
    });
    login.prefill(QStringLiteral("1001"), QString());
    login.show();
    QApplication::setActiveWindow(&login);
    auto* password = login.findChild<QLineEdit*>(QStringLiteral("password"));
    ASSERT_NE(password, nullptr);
    password->setFocus();
    QTest::keyClicks(password, QStringLiteral("wrong"));
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(login.findChild<QLabel*>(QStringLiteral("message"))->text(),
              QStringLiteral("操作员[1001]密码错误"));
    EXPECT_TRUE(login.isVisible());
    EXPECT_TRUE(password->hasFocus());
    EXPECT_EQ(password->selectedText(), QStringLiteral("wrong"));
    saveScreen(login, "login-refused");

    QTest::keyClicks(password, QStringLiteral("pass1001")); // types over the selection
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(login.result(), QDialog::Accepted);
    EXPECT_EQ(host->operatorName(), "张敏");
}

TEST_F(CounterWindowTest, TheWindowNamesTheOperatorAndItsBranchAndTheWheelScrollsAForm) {
    start(std::make_unique<counter::EmbeddedTransport>(service));
    EXPECT_EQ(window->windowTitle(),
              QStringLiteral("证券柜台 - 柜员 张敏 - VIP快速交易客户模块 (6.6.240)"));
    EXPECT_EQ(window->operatorLine()->text(), QStringLiteral("柜员 张敏，营业部 8 深圳营业部"));

    // A function the module serves no form for says so; the operator line stays.
    EXPECT_FALSE(window->openFunction(730199));
    EXPECT_EQ(window->statusBar()->currentMessage(),
              QStringLiteral("功能 730199 未能打开：模块没有提供此功能的窗体。"));
    EXPECT_TRUE(window->operatorLine()->isVisible());
    QApplication::processEvents();
    saveScreen(*window, "counter-not-served");

    // A form larger than the window scrolls with the wheel.
    ASSERT_TRUE(window->openFunction(730105));
    QWidget* form = shownForm();
    ASSERT_NE(form, nullptr);
    window->resize(360, 240);
    QApplication::processEvents();
    auto* page = qobject_cast<QScrollArea*>(window->tabs()->currentWidget());
    QScrollBar* bar = page->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->value(), 0);
    const QPointF at(20, 20);
    QWheelEvent down(at, form->mapToGlobal(at), QPoint(), QPoint(0, -240), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(form, &down);
    EXPECT_EQ(bar->value(), std::min(bar->maximum(), 2 * bar->singleStep()));
    saveScreen(*window, "counter-small-window-scrolled");
    QWheelEvent up(at, form->mapToGlobal(at), QPoint(), QPoint(0, 480), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(form, &up);
    EXPECT_EQ(bar->value(), 0);
    saveScreen(*window, "counter-small-window");

    // Closing the form closes its tab.
    window->tabs()->tabCloseRequested(window->tabs()->currentIndex());
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->tabs()->count(), 1);
}

TEST_F(CounterWindowTest, ATcpCounterTellsTheOperatorAndRecoversWhenTheServerComesBack) {
    auto server = std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000));
    const std::uint16_t port = server->server.port();
    start(std::make_unique<counter::TcpTransport>("127.0.0.1", port));
    ASSERT_TRUE(window->openFunction(730105));
    auto* list = shownForm()->findChild<QAbstractItemView*>(QStringLiteral("lvVipClientInfo"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->model()->rowCount(), 30);

    server.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // F5 while the server is away: the operator reads what happened and what to do.
    // The technical line is not in front of the operator, only behind the details.
    QString shown;
    QString detail;
    whenMessageShows(shown, &detail);
    // The operator clicks into the list. Offscreen there is no window manager to give the
    // window the keyboard back after the wait popup has gone, so the click's activation is
    // made here.
    QApplication::setActiveWindow(window.get());
    list->setFocus();
    QTest::keyClick(list, Qt::Key_F5);
    EXPECT_EQ(shown, QStringLiteral("与后台的连接已断开，请稍后重试。"));
    EXPECT_EQ(detail, QStringLiteral("ARCom.Send failed with status 0x80041004"));
    EXPECT_EQ(list->model()->rowCount(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Opening a function meanwhile says why it did not open.
    window->tabs()->tabCloseRequested(window->tabs()->currentIndex());
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(window->openFunction(730105));
    EXPECT_EQ(window->statusBar()->currentMessage(),
              QStringLiteral("功能 730105 未能打开：与后台的连接已断开，请稍后重试。"));

    // The server is back: the next request connects again, without restarting the counter.
    server = std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000), port);
    ASSERT_TRUE(window->openFunction(730105));
    list = shownForm()->findChild<QAbstractItemView*>(QStringLiteral("lvVipClientInfo"));
    EXPECT_EQ(list->model()->rowCount(), 30);
}

TEST(StartupConnect, TheOperatorRetriesUntilTheBackOfficeIsThereOrQuits) {
    QTemporaryDir dir;
    std::shared_ptr<protocol::PacketService> service(
        protocol::openBackOfficeService(dir.filePath("office.db").toStdString()));
    std::uint16_t port = 0;
    {
        ServerThread probe(*service, std::chrono::milliseconds(5000));
        port = probe.server.port(); // a port nobody listens on once it is gone
    }
    const auto connect = [&]() -> std::unique_ptr<counter::Transport> {
        return std::make_unique<counter::TcpTransport>("127.0.0.1", port);
    };
    std::unique_ptr<ServerThread> server;
    QString asked;
    QString details;
    QStringList logged;
    int dialogs = 0;
    auto transport = counter::connectOrAsk(
        connect,
        [&](QMessageBox& box) {
            ++dialogs;
            asked = box.text();
            details = box.detailedText();
            QTimer::singleShot(0, &box, [&] {
                saveScreen(box, "startup-cannot-connect");
                server =
                    std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000), port);
                QPushButton* retry = nullptr;
                for (QAbstractButton* b : box.buttons())
                    if (b->text().startsWith(QStringLiteral("重试")))
                        retry = qobject_cast<QPushButton*>(b);
                ASSERT_NE(retry, nullptr);
                QTest::mouseClick(retry, Qt::LeftButton);
            });
        },
        [&](const QString& reason) { logged << reason; });
    EXPECT_NE(transport, nullptr);
    EXPECT_EQ(dialogs, 1);
    // Words for the operator; why exactly, behind the details and in the transcript.
    EXPECT_EQ(asked, QStringLiteral("无法连接后台，请确认后台已启动、网络通畅，然后重试。"));
    EXPECT_TRUE(details.contains(QStringLiteral("127.0.0.1"))) << details.toStdString();
    EXPECT_EQ(logged, QStringList{details});
    EXPECT_EQ(counter::transcriptConnectFailure("tcp://127.0.0.1:1", "refused \"x\""),
              "{\"dir\":\"connect\",\"backoffice\":\"tcp://127.0.0.1:1\",\"error\":"
              "\"refused \\\"x\\\"\"}");
    transport.reset();

    server.reset();
    transport = counter::connectOrAsk(connect, [&](QMessageBox& box) {
        QTimer::singleShot(0, &box, [&box] {
            for (QAbstractButton* b : box.buttons())
                if (b->text().startsWith(QStringLiteral("退出")))
                    QTest::mouseClick(b, Qt::LeftButton);
        });
    });
    EXPECT_EQ(transport, nullptr);
}

TEST(StartupConnect, AServerNameThatDoesNotResolveIsSaidInTheDialog) {
    counter::BackOfficeAddress address;
    address.host = "no-such-office.invalid"; // a name no resolver knows
    address.port = 7001;
    address.tls = true;
    address.caFile = "office.pem";
    address.connectTimeout = std::chrono::seconds(2);
    QString asked;
    QString details;
    auto transport = counter::connectOrAsk(
        [&]() -> std::unique_ptr<counter::Transport> {
            return std::make_unique<counter::TcpTransport>(address);
        },
        [&](QMessageBox& box) {
            asked = box.text();
            details = box.detailedText();
            QTimer::singleShot(0, &box, [&box] {
                for (QAbstractButton* b : box.buttons())
                    if (b->text().startsWith(QStringLiteral("退出")))
                        QTest::mouseClick(b, Qt::LeftButton);
            });
        });
    EXPECT_EQ(transport, nullptr);
    // In the dialog's own words, not only behind 显示详情: the name, and what to do.
    EXPECT_EQ(asked,
              QStringLiteral("无法解析后台服务器名称“no-such-office.invalid”：请确认名称无误、"
                             "本机能够解析它（DNS或/etc/hosts），或改用后台服务器的IP地址。"));
    EXPECT_TRUE(details.startsWith(QStringLiteral("unknown host no-such-office.invalid")))
        << details.toStdString();
}
