// Input during a wait, as an operator meets it: the counter on a back-office server over
// TCP, the server stopped (SIGSTOP) while the counter waits, Enter pressed blind several
// times through the X server, the server let go on. Nothing typed blind may act.
#include "XServerTest.h"

#include "ClientSyncReq.h"
#include "Clientmodi.h"
#include "ui_ClientSyncReq.h"
#include "ui_Clientmodi.h"

namespace {

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
