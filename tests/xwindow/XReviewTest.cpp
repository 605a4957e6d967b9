// The counter review in the X window: the reviewer moves between 柜员 and 密码 freely, an
// empty password is asked for, an accepted one leads to 确认, and the dialog says what is
// being approved.
#include "WhenShown.h"
#include "XFormTest.h"

#include "Clientmodi.h"
#include "TPasswordEdit.h"
#include "TQzBitBtn.h"
#include "TQzEdit.h"
#include "UFaceAudit.h"
#include "ui_Clientmodi.h"
#include "ui_UFaceAudit.h"

#include <QLabel>

namespace {

class XReviewTest : public XFormTest<TfrmClientmodi> {
protected:
    // 张三 (80000001) opened at 0.45, which asks for a review; `act` runs in the dialog.
    void openAtLowRate(std::function<void(TfrmFaceAudit&)> act) {
        openForm(730102);
        enterByKeys("80000001");
        ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hedDicrate->hasFocus(); }));
        ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
        ASSERT_TRUE(xwindow::type("0.45"));
        ASSERT_TRUE(xwindow::keys({"Return"}));
        ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().btnOk->hasFocus(); }));
        bool shown = false;
        WhenShown<TfrmFaceAudit>(&FaceAudit, [&](TfrmFaceAudit& review) {
            shown = true;
            if (xwindow::activate(&review))
                act(review);
            else
                ADD_FAILURE() << "the review dialog did not get the keyboard";
            // A step that failed leaves the dialog up: it goes, so the test ends.
            if (FaceAudit() && review.isVisible())
                review.reject();
        });
        ASSERT_TRUE(xwindow::keys({"Return"})); // 确定
        ASSERT_TRUE(xwindow::waitFor([&] { return shown && !FaceAudit(); }, 20000));
    }

    std::size_t warnings(const QString& text) {
        return static_cast<std::size_t>(
            std::count_if(dialogs->shown.begin(), dialogs->shown.end(),
                          [&](const ScriptedDialogs::Shown& s) { return s.text == text; }));
    }
};

} // namespace

TEST_F(XReviewTest, TheReviewerMovesFreelyAndOnlyEnterOrConfirmSendsThePassword) {
    const QString ask = QStringLiteral("请输入复核密码");
    openAtLowRate([&](TfrmFaceAudit& review) {
        auto& ui = review.ui();
        ASSERT_TRUE(xwindow::waitFor([&] { return ui.hedPassword->hasFocus(); }));
        // What is reviewed, in words.
        const auto* summary = review.findChild<QLabel*>("lbSummary");
        ASSERT_NE(summary, nullptr);
        EXPECT_EQ(summary->text(), QStringLiteral("复核业务：VIP客户开户\n资产账号：80000001\n"
                                                  "客户姓名：张三\n佣金折扣：0.45"));
        EXPECT_TRUE(summary->isVisible());
        EXPECT_GE(summary->height(), summary->heightForWidth(summary->width())); // not cut
        EXPECT_GT(review.height(), 373 - ui.gbxAuditParams->height());

        // Typed, then back to 柜员 by Shift+Tab, by a click, and again by Tab: nothing sent.
        ASSERT_TRUE(xwindow::type("pa"));
        ASSERT_TRUE(xwindow::keys({"shift+Tab"}));
        EXPECT_TRUE(xwindow::waitFor([&] { return ui.hedOperator->hasFocus(); }));
        ASSERT_TRUE(xwindow::click(ui.hedPassword));
        ASSERT_TRUE(xwindow::waitFor([&] { return ui.hedPassword->hasFocus(); }));
        ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
        ASSERT_TRUE(xwindow::click(ui.hedOperator));
        EXPECT_TRUE(xwindow::waitFor([&] { return ui.hedOperator->hasFocus(); }));
        ASSERT_TRUE(xwindow::keys({"Tab"}));
        EXPECT_TRUE(xwindow::waitFor([&] { return ui.hedPassword->hasFocus(); }));
        xwindow::spin(200);
        EXPECT_TRUE(requestsOf(360042).empty());

        // An empty password: Enter and 确认 both say why and keep the reviewer there.
        ASSERT_TRUE(xwindow::keys({"Return"}));
        ASSERT_TRUE(xwindow::waitFor([&] { return warnings(ask) == 1; }));
        EXPECT_TRUE(ui.hedPassword->hasFocus());
        ASSERT_TRUE(xwindow::click(ui.hbtnOK));
        ASSERT_TRUE(xwindow::waitFor([&] { return warnings(ask) == 2; }));
        EXPECT_TRUE(xwindow::waitFor([&] { return ui.hedPassword->hasFocus(); }));
        EXPECT_TRUE(review.isVisible());
        EXPECT_TRUE(requestsOf(360042).empty());

        // The right password on Enter: sent once, and 确认 takes the focus and shows it.
        ASSERT_TRUE(xwindow::type("pass1002"));
        ASSERT_TRUE(xwindow::keys({"Return"}));
        ASSERT_TRUE(xwindow::waitFor([&] { return ui.hbtnOK->hasFocus(); }));
        EXPECT_EQ(requestsOf(360042).size(), 1u);
        EXPECT_TRUE(ui.hbtnOK->isDefault());
        EXPECT_FALSE(xwindow::grabWindow(&review, "x-730102-review").isEmpty());
        ASSERT_TRUE(xwindow::keys({"Return"})); // the second Enter confirms
    });
    EXPECT_EQ(requestsOf(360042).size(), 1u);
    const auto opens = requestsOf(730001);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].value("audit_action").toString(), "2");
    EXPECT_EQ(opens[1].value("discount_rate").toString(), "0.45");
    EXPECT_EQ(warnings(QStringLiteral("操作成功！")), 1u);
}

TEST_F(XReviewTest, AWrongPasswordIsSentOnceAndTheReviewerMayCancel) {
    openAtLowRate([&](TfrmFaceAudit& review) {
        auto& ui = review.ui();
        ASSERT_TRUE(xwindow::waitFor([&] { return ui.hedPassword->hasFocus(); }));
        ASSERT_TRUE(xwindow::type("wrong"));
        ASSERT_TRUE(xwindow::keys({"Return"}));
        ASSERT_TRUE(xwindow::waitFor([&] { return requestsOf(360042).size() == 1u; }));
        EXPECT_TRUE(xwindow::waitFor([&] { return ui.hedPassword->hasFocus(); }));
        EXPECT_EQ(ui.hedPassword->selectedText(), ui.hedPassword->text());
        // Leaving to 柜员 and cancelling sends nothing more.
        ASSERT_TRUE(xwindow::keys({"shift+Tab"}));
        ASSERT_TRUE(xwindow::click(ui.hbtnCancel));
    });
    EXPECT_EQ(requestsOf(360042).size(), 1u);
    EXPECT_EQ(requestsOf(730001).size(), 1u);
}
