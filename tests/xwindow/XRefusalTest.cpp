// Refusals and giving up, in the X window: a refused entry leaves the operator in the
// identifier edit with its text selected, a cleared edit holds nothing to validate, Esc and
// 取消 never validate, and a rate above 1 is refused with the operator's text kept.
#include "XFormTest.h"

#include "ClientSyncReq.h"
#include "Clientmodi.h"
#include "TQZIDEdit.h"
#include "TQzBitBtn.h"
#include "TQzEdit.h"
#include "ui_ClientSyncReq.h"
#include "ui_Clientmodi.h"

namespace {

using XRefusalClientmodiTest = XFormTest<TfrmClientmodi>;
using XRefusalClientSyncReqTest = XFormTest<TfrmClientSyncReq>;

} // namespace

TEST_F(XRefusalClientmodiTest, AfterARefusalEscAndTabSendNothingAndTheFormCloses) {
    openForm(730103); // close mode: a client who is not VIP is refused
    enterByKeys("80000001");
    ASSERT_TRUE(xwindow::waitFor([&] { return !dialogs->shown.empty(); }));
    EXPECT_EQ(dialogs->shown.back().text, QStringLiteral("该VIP客户未开户!"));
    ASSERT_TRUE(xwindow::waitFor([&] { return edit().hasFocus(); }));
    EXPECT_EQ(edit().text(), "");
    const std::size_t sent = requestCount();
    ASSERT_TRUE(xwindow::keys({"Tab"}));
    ASSERT_TRUE(xwindow::click(&edit()));
    ASSERT_TRUE(xwindow::keys({"Escape"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return !form || !form->isVisible(); }));
    xwindow::spin(200);
    EXPECT_EQ(requestCount(), sent);
    EXPECT_EQ(dialogs->shown.size(), 1u); // no "账户[]不存在" over a blank form
}

TEST_F(XRefusalClientmodiTest, ClickingCancelGivesUpAnEntryWithoutValidatingIt) {
    openForm(730102);
    ASSERT_TRUE(xwindow::click(&edit()));
    ASSERT_TRUE(xwindow::type("80000001"));
    const std::size_t sent = requestCount();
    ASSERT_TRUE(xwindow::click(form->ui().btnCancel));
    ASSERT_TRUE(xwindow::waitFor([&] { return !form || !form->isVisible(); }));
    xwindow::spin(200);
    EXPECT_EQ(requestCount(), sent);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(XRefusalClientmodiTest, ARateAboveOneIsRefusedInWordsAndKeptForCorrection) {
    openForm(730102);
    enterByKeys("80000001");
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hedDicrate->hasFocus(); }));
    ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
    ASSERT_TRUE(xwindow::type("1.5"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return !dialogs->shown.empty(); }));
    EXPECT_EQ(dialogs->shown.back().text, QStringLiteral("佣金折扣不能大于1，请重新输入！"));
    EXPECT_EQ(form->ui().hedDicrate->text(), "1.5");
    EXPECT_TRUE(xwindow::waitFor([&] { return form->ui().hedDicrate->hasFocus(); }));
    EXPECT_EQ(form->ui().hedDicrate->selectedText(), "1.5");
    // 确定 clicked with the rate still above 1 sends nothing.
    ASSERT_TRUE(xwindow::click(form->ui().btnOk));
    xwindow::spin(300);
    EXPECT_TRUE(requestsOf(730001).empty());
    EXPECT_EQ(form->ui().hedDicrate->text(), "1.5");
    // Corrected, it goes.
    ASSERT_TRUE(xwindow::click(form->ui().hedDicrate));
    ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
    ASSERT_TRUE(xwindow::type("0.95"));
    ASSERT_TRUE(xwindow::keys({"Return", "Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return requestsOf(730001).size() == 1u; }));
    EXPECT_EQ(requestsOf(730001)[0].value("discount_rate").toString(), "0.95");
}

TEST_F(XRefusalClientSyncReqTest, ARefusedClientLeavesTheFocusInTheEditWithItsTextSelected) {
    openForm(730101);
    enterByKeys("80000005"); // fund account 挂失
    ASSERT_TRUE(xwindow::waitFor([&] { return !dialogs->shown.empty(); }));
    EXPECT_TRUE(dialogs->shown.back().text.startsWith(QStringLiteral("该客户资金账户状态为")));
    ASSERT_TRUE(xwindow::waitFor([&] { return edit().hasFocus(); }));
    EXPECT_EQ(edit().text(), "80000005");
    EXPECT_EQ(edit().selectedText(), "80000005");
    EXPECT_FALSE(form->ui().btnOk->isEnabled());
    // The operator types the next entry straight over it.
    ASSERT_TRUE(xwindow::type("80000001"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().btnOk->isEnabled(); }));
    EXPECT_EQ(form->ui().lbFundAcco->text(), "80000001");
}
