// Keys typed while the counter connects to its back office (a connection's deadline can run
// to seconds) are thrown away, as in a request's wait: none reaches a widget afterwards.
#include "XSession.h"

#include "StartupConnect.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

TEST(XConnectWait, KeysTypedWhileConnectingAreThrownAwayNotReplayed) {
    QLineEdit edit;
    edit.setObjectName("afterTheConnection");
    edit.resize(300, 30);
    edit.show();
    ASSERT_TRUE(xwindow::activate(&edit));
    ASSERT_TRUE(xwindow::click(&edit));
    ASSERT_TRUE(xwindow::waitFor([&] { return edit.hasFocus(); }));

    // The transport pumps every 15 ms while it connects; the operator types meanwhile.
    xwindow::Child typing = xwindow::xdotoolLater({"type", "--delay", "100", "1002"});
    QElapsedTimer waited;
    waited.start();
    while (!typing.finished() && waited.elapsed() < 10000) {
        QThread::msleep(15);
        counter::paintWhileWaiting();
    }
    ASSERT_TRUE(typing.finished());
    for (int i = 0; i < 20; ++i) { // the X server has handed over the last key
        QThread::msleep(15);
        counter::paintWhileWaiting();
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The connection is made; the counter is idle again and nothing typed blind arrives.
    xwindow::spin(400);
    EXPECT_EQ(edit.text(), QString());
    // Typed now, keys arrive as ever.
    ASSERT_TRUE(xwindow::type("1"));
    EXPECT_TRUE(xwindow::waitFor([&] { return edit.text() == "1"; }));
}

TEST(XConnectWait, TheHourglassOfAConnectionGoesOnEveryPath) {
    // Shown while the connection is made, whatever way the attempt ends.
    int shapeWhileConnecting = -1;
    const auto connecting = [&] {
        if (const QCursor* c = QApplication::overrideCursor())
            shapeWhileConnecting = c->shape();
    };
    EXPECT_THROW(counter::connectOrAsk(
                     [&]() -> std::unique_ptr<counter::Transport> {
                         connecting();
                         throw 42; // an error of no standard kind
                     },
                     {}, {}),
                 int);
    EXPECT_EQ(shapeWhileConnecting, Qt::WaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // Refused, then given up at the question: the cursor is back before the question shows.
    shapeWhileConnecting = -1;
    bool cursorAtTheQuestion = true;
    EXPECT_EQ(counter::connectOrAsk(
                  [&]() -> std::unique_ptr<counter::Transport> {
                      connecting();
                      throw std::runtime_error("refused");
                  },
                  [&](QMessageBox& box) {
                      cursorAtTheQuestion = QApplication::overrideCursor() != nullptr;
                      QTimer::singleShot(0, &box, [&box] { box.reject(); });
                  },
                  {}),
              nullptr);
    EXPECT_EQ(shapeWhileConnecting, Qt::WaitCursor);
    EXPECT_FALSE(cursorAtTheQuestion);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
