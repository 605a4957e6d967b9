// Input during a wait, as an operator meets it: the counter on a back-office server over
// TCP, the server stopped (SIGSTOP) while the counter waits, Enter pressed blind several
// times through the X server, the server let go on. Nothing typed blind may act.
#include "XSession.h"
#include "forms/AccountFormFixture.h"

#include "ClientSyncReq.h"
#include "Clientmodi.h"
#include "TcpTransport.h"
#include "ui_ClientSyncReq.h"
#include "ui_Clientmodi.h"

#include <QCursor>
#include <QTimer>

#include <csignal>

namespace {

// The form's host on a `marlo-backoffice serve` process over loopback, with a transcript.
template <class Form> class XServerTest : public AccountFormTest<Form> {
protected:
    void SetUp() override {
        AccountFormTest<Form>::SetUp();
        if (this->HasFatalFailure())
            return;
        QString line;
        server = xwindow::startReading({QStringLiteral(BACKOFFICE), "serve", "--db",
                                        this->dir.filePath("office.db"), "--listen", "127.0.0.1:0"},
                                       &line);
        const qsizetype colon = line.lastIndexOf(':');
        ASSERT_GT(colon, 0) << line.toStdString();
        const auto port = static_cast<std::uint16_t>(line.mid(colon + 1).toUInt());
        this->transcript = this->dir.filePath("server-transcript.jsonl");
        this->host =
            std::make_unique<counter::CounterHost>(std::make_unique<counter::TranscriptTransport>(
                std::make_unique<counter::TcpTransport>("127.0.0.1", port),
                this->transcript.toStdString()));
        ASSERT_EQ(this->host->login("1001", "pass1001", "1"), "");
    }
    void TearDown() override {
        AccountFormTest<Form>::TearDown();
        server.stop();
    }

    void openForm(std::int32_t menuCode) {
        this->open(menuCode);
        ASSERT_TRUE(xwindow::activate(this->form));
        ASSERT_TRUE(xwindow::click(&this->edit()));
        ASSERT_TRUE(xwindow::waitFor([&] { return this->edit().hasFocus(); }));
    }

    // Types the entry, stops the server, presses Enter and then Enter `blind` times more
    // while the counter waits, and lets the server go on after `stalledMs`. During the
    // wait the cursor the counter sets and the one the X server shows are noted, and the
    // screen is saved as `picture` when one is named.
    void enterWhileTheServerStalls(const QString& entry, int blind, int stalledMs,
                                   const QString& picture = {}) {
        ASSERT_TRUE(xwindow::type(entry));
        ASSERT_TRUE(xwindow::pointAt(this->form->ui().GroupBox2));
        xCursorBefore = xwindow::cursorImage();
        ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
        const pid_t pid = server.pid();
        QTimer::singleShot(stalledMs, [pid] { kill(pid, SIGCONT); });
        QTimer::singleShot(stalledMs - 300, [this, picture] {
            if (const QCursor* c = QApplication::overrideCursor())
                cursorDuringWait = c->shape();
            xCursorDuringWait = xwindow::cursorImage();
            if (!picture.isEmpty())
                xwindow::grabScreen(picture);
        });
        QStringList keys{"Return"};
        for (int i = 0; i < blind; ++i)
            keys << "Return";
        xwindow::Child typing = xwindow::xdotoolLater(QStringList{"key", "--delay", "250"} + keys);
        ASSERT_TRUE(xwindow::waitFor([&] { return typing.finished(); }, 10000));
        // The reply is in and the counter idle: whatever the keys would do has happened.
        ASSERT_TRUE(xwindow::waitFor([&] { return !this->form->ui().lbCustName->text().isEmpty(); },
                                     10000));
        xwindow::spin(600);
    }

    xwindow::Child server;
    int cursorDuringWait = -1;
    QImage xCursorBefore;
    QImage xCursorDuringWait;
};

using XWaitClientmodiTest = XServerTest<TfrmClientmodi>;
using XWaitClientSyncReqTest = XServerTest<TfrmClientSyncReq>;

} // namespace

TEST_F(XWaitClientmodiTest, EnterPressedBlindDuringAWaitIsThrownAwayAndTheWaitShows) {
    openForm(730102);
    enterWhileTheServerStalls("80000012", 3, 1500, "x-730102-wait-cursor");
    EXPECT_EQ(form->ui().lbFundAcco->text(), "80000012");
    EXPECT_TRUE(requestsOf(730001).empty()) << "a blind Enter opened the client";
    for (const auto& shown : dialogs->shown)
        EXPECT_NE(shown.text, QStringLiteral("操作成功！"));
    EXPECT_GE(host->operatorWait().discarded(), 3u);
    EXPECT_EQ(cursorDuringWait, Qt::WaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr); // the arrow is back
    // The X server showed the hourglass during the wait, not the cursor of before, and it
    // is gone once the wait is over.
    EXPECT_FALSE(xCursorDuringWait.isNull());
    EXPECT_NE(xCursorDuringWait, xCursorBefore);
    EXPECT_TRUE(xwindow::waitFor([&] { return xwindow::cursorImage() != xCursorDuringWait; }));
    // The first Enter moved on to the rate; the blind ones moved nothing further.
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hedDicrate->hasFocus(); }));
}

TEST_F(XWaitClientSyncReqTest, EnterPressedBlindDuringAWaitSendsNoSync) {
    openForm(730101);
    enterWhileTheServerStalls("80000012", 5, 2000);
    EXPECT_EQ(form->ui().lbFundAcco->text(), "80000012");
    EXPECT_TRUE(requestsOf(730000).empty()) << "a blind Enter sent the sync";
    EXPECT_GE(host->operatorWait().discarded(), 5u);
    EXPECT_EQ(cursorDuringWait, Qt::WaitCursor);
}
