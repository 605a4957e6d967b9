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

#include <sqlite3.h>

namespace {

class XReviewTest : public XFormTest<TfrmClientmodi> {
protected:
    // 张三 (80000001) opened at 0.45, which asks for a review; `act` runs in the dialog.
    void openAtLowRate(std::function<void(TfrmFaceAudit&)> act) {
        sendForReview(730102, "80000001", "0.45", std::move(act));
    }

    // The client of the entry sent with the rate on the form of the menu code, which asks
    // for a review; `act` runs in the dialog.
    void sendForReview(std::int32_t menuCode, const QString& entry, const QString& rate,
                       std::function<void(TfrmFaceAudit&)> act) {
        openForm(menuCode);
        enterByKeys(entry);
        ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hedDicrate->hasFocus(); }));
        ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
        ASSERT_TRUE(xwindow::type(rate));
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
    // Said plainly, not as the back office's demand for a review.
    ASSERT_FALSE(dialogs->shown.empty());
    EXPECT_EQ(dialogs->shown.back().text, QStringLiteral("已取消复核，本次业务未提交"));
    // The next client starts from the form's rate, not from this client's 0.45.
    EXPECT_TRUE(xwindow::waitFor([&] { return edit().hasFocus(); }));
    EXPECT_EQ(form->ui().hedDicrate->text(), "1.00");
    enterByKeys("80000002");
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hedDicrate->hasFocus(); }));
    EXPECT_EQ(form->ui().hedDicrate->text(), "1.00");
}

TEST_F(XReviewTest, AReviewVoidedByThreeWrongPasswordsClosesAndSaysTheBusinessWasNotDone) {
    bool closedItself = false;
    openAtLowRate([&](TfrmFaceAudit& review) {
        auto& ui = review.ui();
        for (std::size_t i = 1; i <= 3; ++i) {
            ASSERT_TRUE(xwindow::waitFor([&] { return ui.hedPassword->hasFocus(); }));
            ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
            ASSERT_TRUE(xwindow::type(QStringLiteral("wrong%1").arg(i)));
            ASSERT_TRUE(xwindow::keys({"Return"}));
            ASSERT_TRUE(xwindow::waitFor([&] { return requestsOf(360042).size() == i; }));
        }
        // The third voids the review: the dialog goes by itself.
        closedItself = xwindow::waitFor([&] { return !review.isVisible(); });
    });
    EXPECT_TRUE(closedItself) << "临柜复核 stayed open after the review was voided";
    EXPECT_EQ(FaceAudit(), nullptr);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<TfrmFaceAudit*>(w) && w->isVisible());
    ASSERT_FALSE(dialogs->shown.empty());
    const std::size_t last = dialogs->shown.size() - 1;
    EXPECT_EQ(dialogs->shown[last].text,
              QStringLiteral("复核流程已作废，本次业务没有办理。\n可以重新提交该业务。"));
    EXPECT_TRUE(dialogs->details[last].contains(QStringLiteral("已作废")))
        << "the back office's words stay behind the details";
    for (const auto& shown : dialogs->shown)
        EXPECT_FALSE(shown.text.contains(QStringLiteral("360415"))) << shown.text.toStdString();
    EXPECT_EQ(requestsOf(730001).size(), 1u);
    EXPECT_TRUE(xwindow::waitFor([&] { return edit().hasFocus(); }));
    EXPECT_EQ(form->ui().hedDicrate->text(), "1.00");
}

TEST_F(XReviewTest, AnAcceptedApprovalStandsAndConfirmResendsWithIt) {
    openAtLowRate([&](TfrmFaceAudit& review) {
        auto& ui = review.ui();
        ASSERT_TRUE(xwindow::waitFor([&] { return ui.hedPassword->hasFocus(); }));
        ASSERT_TRUE(xwindow::type("pass1002"));
        ASSERT_TRUE(xwindow::keys({"Return"}));
        ASSERT_TRUE(xwindow::waitFor([&] { return ui.hbtnOK->hasFocus(); }));
        EXPECT_TRUE(ui.lbGranted->isVisible());
        EXPECT_EQ(ui.lbGranted->text(), QStringLiteral("已由柜员1002复核通过"));
        // Another reviewer now: neither field takes him, nothing is sent.
        ASSERT_TRUE(xwindow::click(ui.hedOperator));
        ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
        ASSERT_TRUE(xwindow::type("1003"));
        ASSERT_TRUE(xwindow::click(ui.hedPassword));
        ASSERT_TRUE(xwindow::type("pass1003"));
        xwindow::spin(200);
        EXPECT_EQ(ui.hedOperator->text(), "1002");
        EXPECT_EQ(ui.hedPassword->text(), "pass1002");
        EXPECT_TRUE(ui.hedOperator->isReadOnly());
        EXPECT_TRUE(ui.hedPassword->isReadOnly());
        EXPECT_FALSE(xwindow::grabWindow(&review, "x-730102-review-granted").isEmpty());
        ASSERT_TRUE(xwindow::click(ui.hbtnOK));
    });
    EXPECT_EQ(requestsOf(360042).size(), 1u);
    const auto opens = requestsOf(730001);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].value("audit_action").toString(), "2");
    EXPECT_EQ(warnings(QStringLiteral("操作成功！")), 1u);
    for (const auto& shown : dialogs->shown)
        EXPECT_FALSE(shown.text.startsWith(QStringLiteral("错  误  号")))
            << shown.text.toStdString();
}

TEST_F(XReviewTest, AModifyShowsTheRateBeforeAndAfter) {
    // This branch asks for a review of a modify to a rate below 0.50.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.filePath("office.db").toUtf8().constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "INSERT INTO review_rule VALUES (730003, 0.50, 'modify')", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    QString summary;
    sendForReview(730104, "80000003", "0.40", [&](TfrmFaceAudit& review) {
        if (const auto* label = review.findChild<QLabel*>("lbSummary"))
            summary = label->text();
        ASSERT_TRUE(xwindow::click(review.ui().hbtnCancel));
    });
    EXPECT_TRUE(summary.endsWith(QStringLiteral("\n佣金折扣：0.80 → 0.40")))
        << summary.toStdString();
    EXPECT_EQ(requestsOf(730003).size(), 1u);
}
