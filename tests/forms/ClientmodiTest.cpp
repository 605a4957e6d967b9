#include "AccountFormFixture.h"
#include "WhenShown.h"

#include "BizRequest.h"
#include "C_MarloEntry.h"
#include "Clientmodi.h"
#include "QueryVipInfo.h"
#include "TQZListViewEx.h"
#include "UFaceAudit.h"
#include "ui_Clientmodi.h"
#include "ui_QueryVipInfo.h"
#include "ui_UFaceAudit.h"

namespace {

const QStringList header{"op_branch_no",   "operator_no", "user_type",  "op_station",
                         "op_entrust_way", "menu_id",     "function_id"};

class ClientmodiTest : public AccountFormTest<TfrmClientmodi> {
protected:
    bool okEnabled() { return form->ui().btnOk->isEnabled(); }
    TQzEdit& rate() { return *form->ui().hedDicrate; }

    // The operator types a rate and goes on with Enter.
    void typeRate(const QString& text) {
        activate();
        rate().setFocus();
        rate().selectAll();
        QTest::keyClicks(&rate(), text);
        QTest::keyClick(&rate(), Qt::Key_Return);
    }
    // "确定", reached with Tab and pressed with Enter.
    void confirm() {
        ASSERT_TRUE(okEnabled());
        activate();
        form->ui().btnOk->setFocus(Qt::TabFocusReason);
        QTest::keyClick(form->ui().btnOk, Qt::Key_Return);
    }
    // The reviewer signs with his password and confirms.
    static void grant(TfrmFaceAudit& review) {
        review.ui().hedPassword->setFocus();
        QTest::keyClicks(review.ui().hedPassword, "pass1002");
        QTest::keyClick(review.ui().hedPassword, Qt::Key_Return);
        review.ui().hbtnOK->click();
    }
    // Whether the account's entrust ways include 'Z', as the back office now has them.
    bool carriesZ(std::int32_t fundAccount) {
        EXPECT_TRUE(form->Fund()->LoadAccountInfo(fundAccount));
        return form->Fund()->FundAccountInfo.en_entrust_way.find('Z') != std::string::npos;
    }
    void whenReviewShows(std::function<void(TfrmFaceAudit&)> act) {
        WhenShown<TfrmFaceAudit>(&FaceAudit, std::move(act));
    }
};

} // namespace

TEST_F(ClientmodiTest, OpenModeChecksTheClientThenOpensItWithTheRate) {
    open(730102);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("VIP客户开户"));
    EXPECT_EQ(form->ui().Hinttxt->text(), QStringLiteral("会自动开通该客户的委托方式 'Z'"));
    EXPECT_EQ(form->ui().Hinttxt->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_TRUE(rate().isVisible());
    EXPECT_EQ(rate().text(), "1.00");
    EXPECT_EQ(rate().maxLength(), 20);
    EXPECT_EQ(form->ui().lbDicrate->text(), QStringLiteral("佣金折扣"));
    EXPECT_FALSE(okEnabled());

    enter("80000001"); // 张三, not VIP
    const auto checks = requestsOf(730004);
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].names(), (header + QStringList{"branch_no", "fund_account"}));
    EXPECT_EQ(checks[0].value("function_id").toInt(), 730004);
    EXPECT_EQ(checks[0].value("menu_id").toInt(), 730102);
    EXPECT_EQ(checks[0].value("fund_account").toInt(), 80000001);
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_TRUE(okEnabled());
    EXPECT_EQ(rate().text(), "1.00");
    EXPECT_EQ(QApplication::focusWidget(), &rate()); // Enter moved on to the rate
    saveScreen("730102-client");

    typeRate("0.85");
    confirm();
    const auto opens = requestsOf(730001);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].names(),
              (header + QStringList{"branch_no", "client_id", "fund_account", "discount_rate"}));
    EXPECT_EQ(opens[0].value("branch_no").toInt(), 8);
    EXPECT_EQ(opens[0].value("client_id").toString(), "100001");
    EXPECT_EQ(opens[0].value("discount_rate").toString(), "0.85");
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("操作成功！"));
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Information);
    EXPECT_EQ(rate().text(), "1.00");
    EXPECT_EQ(edit().text(), "");
    EXPECT_EQ(form->ui().lbFundAcco->text(), "");
    // The panel shows no client: no second open for it, at the rate just reset.
    EXPECT_FALSE(okEnabled());
    EXPECT_TRUE(carriesZ(80000001));

    // The VIP list of 730105 now holds the client.
    TfrmQueryVipInfo list;
    list.InitFromHost(730105, 0, 0, host->appFrame());
    TQZListViewEx& rows = *list.ui().lvVipClientInfo;
    bool listed = false;
    for (int r = 0; r < rows.rowCount(); ++r)
        listed = listed || rows.GetMasterData(r, "fund_account").toInteger() == 80000001;
    EXPECT_TRUE(listed);
}

TEST_F(ClientmodiTest, OpenModeRefusesAClientThatIsAlreadyVip) {
    open(730102);
    enter("80000003"); // 李四
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("该VIP客户已开户!"));
    EXPECT_EQ(edit().text(), "");
    EXPECT_EQ(panelTexts(), QStringList(7, QString()));
    EXPECT_EQ(QApplication::focusWidget(), &edit());
    EXPECT_FALSE(okEnabled());
}

TEST_F(ClientmodiTest, ALowRateOpenNeedsAReviewGrantedOrCancelled) {
    open(730102);
    enter("80000001");
    typeRate("0.45");
    bool reviewed = false;
    whenReviewShows([&](TfrmFaceAudit& review) {
        EXPECT_EQ(review.ui().hedOperator->text(), "1002");
        QDir().mkpath(QStringLiteral(SCREEN_DIR));
        review.grab().save(QStringLiteral(SCREEN_DIR "/730102-review.png"));
        grant(review);
        reviewed = true;
    });
    confirm();
    EXPECT_TRUE(reviewed);
    auto opens = requestsOf(730001);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].value("audit_action").toString(), "2");
    EXPECT_EQ(opens[1].value("discount_rate").toString(), "0.45");
    ASSERT_EQ(requestsOf(360042).size(), 1u);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("操作成功！"));
    EXPECT_TRUE(carriesZ(80000001));

    // 孙八 at 0.45, the review cancelled: said plainly, nothing is opened, and the next
    // client does not start from 孙八's rate.
    enter("80000007");
    typeRate("0.45");
    whenReviewShows([](TfrmFaceAudit& review) { review.ui().hbtnCancel->click(); });
    confirm();
    EXPECT_EQ(requestsOf(730001).size(), 3u);
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[1].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[1].text, QStringLiteral("已取消复核，本次业务未提交"));
    EXPECT_TRUE(dialogs->details[1].contains(QStringLiteral("360415")));
    EXPECT_EQ(rate().text(), "1.00");
    EXPECT_FALSE(carriesZ(80000007));
    enter("80000007"); // still not VIP: accepted in open mode
    EXPECT_EQ(dialogs->shown.size(), 2u);
    EXPECT_TRUE(okEnabled());
}

TEST_F(ClientmodiTest, CloseModeHidesTheRateAndRemovesZAfterTheReview) {
    open(730103);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("VIP客户销户"));
    EXPECT_EQ(form->ui().Hinttxt->text(), QStringLiteral("会自动去除该客户的委托方式 'Z'"));
    EXPECT_EQ(form->ui().Hinttxt->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_FALSE(rate().isVisible());
    EXPECT_FALSE(form->ui().lbDicrate->isVisible());
    // No empty row where the rate would be: the hint takes its place, the form is shorter.
    EXPECT_EQ(form->ui().Hinttxt->y(), form->ui().lbDicrate->y());
    EXPECT_EQ(form->ui().GroupBox2->y() - form->ui().Hinttxt->y(), 118 - 88);
    EXPECT_EQ(form->height(), 392 - (88 - 54));
    EXPECT_EQ(form->bottomPanel()->y(), form->height() - 2);

    enter("80000001"); // not VIP
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("该VIP客户未开户!"));
    EXPECT_FALSE(okEnabled());

    enter("80000006"); // 钱七, VIP at 0.45 in branch 9
    EXPECT_EQ(dialogs->shown.size(), 1u);
    ASSERT_TRUE(okEnabled());
    // With the rate hidden, Enter leads to 确定, never to 取消.
    EXPECT_EQ(QApplication::focusWidget(), form->ui().btnOk);
    EXPECT_EQ(rate().text(), "0.45"); // loaded, although hidden
    saveScreen("730103-client");
    EXPECT_TRUE(carriesZ(80000006));
    whenReviewShows([](TfrmFaceAudit& review) { grant(review); });
    confirm();
    const auto closes = requestsOf(730002);
    ASSERT_EQ(closes.size(), 2u); // the review demand, then the reviewed resend
    EXPECT_EQ(closes[0].names(), (header + QStringList{"branch_no", "fund_account"}));
    EXPECT_EQ(closes[0].value("branch_no").toInt(), 9);
    EXPECT_EQ(closes[1].value("audit_action").toString(), "2");
    EXPECT_EQ(dialogs->shown.back().text, QStringLiteral("操作成功！"));
    EXPECT_FALSE(carriesZ(80000006));
    EXPECT_FALSE(okEnabled());
}

TEST_F(ClientmodiTest, ModifyModeLoadsTheRateAndSendsTheEditedOne) {
    open(730104);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("VIP客户修改"));
    EXPECT_EQ(form->ui().Hinttxt->text(), "");
    EXPECT_TRUE(rate().isVisible());

    enter("80000008"); // 周九, VIP at 0.9
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_EQ(rate().text(), "0.90");
    ASSERT_TRUE(okEnabled());
    saveScreen("730104-client");
    typeRate("0.75");
    confirm();
    const auto modifies = requestsOf(730003);
    ASSERT_EQ(modifies.size(), 1u);
    EXPECT_EQ(modifies[0].names(),
              (header + QStringList{"branch_no", "fund_account", "discount_rate"}));
    EXPECT_EQ(modifies[0].value("discount_rate").toString(), "0.75");
    EXPECT_EQ(modifies[0].value("branch_no").toInt(), 10);
    EXPECT_EQ(dialogs->shown.back().text, QStringLiteral("操作成功！"));
    EXPECT_EQ(rate().text(), "1.00");
    // Without a new identification 确定 stays off: the "1.00" the rate was reset to never
    // reaches the client just modified.
    EXPECT_FALSE(okEnabled());
    form->ui().btnOk->click();
    EXPECT_EQ(requestsOf(730003).size(), 1u);

    enter("80000008");
    EXPECT_EQ(rate().text(), "0.75"); // as modified

    enter("80000001"); // not VIP
    EXPECT_EQ(dialogs->shown.back().text, QStringLiteral("该VIP客户未开户!"));
    EXPECT_EQ(edit().text(), "");
    EXPECT_EQ(panelTexts(), QStringList(7, QString()));
    EXPECT_FALSE(okEnabled());
}

TEST_F(ClientmodiTest, ARateTheBackOfficeRefusesIsSaidAndThePanelAndTheRateCleared) {
    open(730104);
    enter("80000008");
    typeRate("0");
    confirm();
    const auto modifies = requestsOf(730003);
    ASSERT_EQ(modifies.size(), 1u);
    EXPECT_EQ(modifies[0].value("discount_rate").toString(), "0.00");
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_TRUE(dialogs->shown[0].text.startsWith(QStringLiteral("错  误  号:")));
    EXPECT_TRUE(dialogs->shown[0].text.contains(QStringLiteral("佣金折扣[0.00]无效")));
    // The client is no longer shown: neither is the rate meant for it.
    EXPECT_EQ(rate().text(), "1.00");
    EXPECT_EQ(panelTexts(), QStringList(7, QString()));
    EXPECT_FALSE(okEnabled());
}

TEST_F(ClientmodiTest, RatesAreWrittenWithADecimalPointWhateverTheLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German));
    open(730104);
    enter("80000008");
    EXPECT_EQ(rate().text(), "0.90");
    typeRate("0.8");
    confirm();
    QLocale::setDefault(before);
    ASSERT_EQ(requestsOf(730003).size(), 1u);
    EXPECT_EQ(requestsOf(730003)[0].value("discount_rate").toString(), "0.80");
}

TEST_F(ClientmodiTest, EachMenuCodeOpensItsOwnFormAndShowOnlyShowsTheNewest) {
    const WindowHandle first = BizEntry(730102, 0, 0, host->appFrame(), 0);
    ASSERT_NE(first, 0u);
    QPointer<QWidget> opening = FormReference(FormClass::Clientmodi);
    const WindowHandle second = BizEntry(730104, 0, 0, host->appFrame(), 0);
    ASSERT_NE(second, 0u);
    QPointer<QWidget> modifying = FormReference(FormClass::Clientmodi);
    ASSERT_NE(opening.data(), modifying.data());
    EXPECT_EQ(opening->windowTitle(), QStringLiteral("VIP客户开户"));
    EXPECT_EQ(modifying->windowTitle(), QStringLiteral("VIP客户修改"));
    opening->hide();
    modifying->hide();
    EXPECT_EQ(BizEntry(730103, 0, 0, host->appFrame(), 1), 0u);
    EXPECT_TRUE(modifying->isVisible());
    EXPECT_FALSE(opening->isVisible());
    delete opening.data();
    delete modifying.data();
}
