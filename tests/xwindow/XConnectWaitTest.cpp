// Keys typed while the counter connects to its back office (a connection's deadline can run
// to seconds) are thrown away, as in a request's wait: none reaches a widget afterwards.
#include "XSession.h"

#include "StartupConnect.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QThread>

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
