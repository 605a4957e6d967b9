#include "AccountFormFixture.h"

#include "C_MarloEntry.h"
#include "ClientSyncReq.h"
#include "ui_ClientSyncReq.h"

namespace {

class ClientSyncReqTest : public AccountFormTest<TfrmClientSyncReq> {
protected:
    void SetUp() override {
        AccountFormTest::SetUp();
        open(730101);
    }
    bool okEnabled() { return form->ui().btnOk->isEnabled(); }
};

const QStringList empty7(7, QString());

} // namespace

TEST_F(ClientSyncReqTest, SetupSelectsAllAndStartsWithAnEmptyPanel) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("VIP快速客户信息主动同步"));
    TQzComboBox& types = *form->ui().hcbOpType;
    ASSERT_EQ(types.count(), 3);
    EXPECT_EQ(types.itemText(0), QStringLiteral("0|全部"));
    EXPECT_EQ(types.itemText(1), QStringLiteral("1|资金"));
    EXPECT_EQ(types.itemText(2), QStringLiteral("2|股份"));
    EXPECT_EQ(types.ItemIndex(), 0);
    EXPECT_EQ(types.currentText(), QStringLiteral("0|全部"));
    EXPECT_EQ(panelTexts(), empty7); // the layout's placeholders never show
    EXPECT_EQ(edit().maxLength(), 18);
    EXPECT_EQ(edit().Captions(),
              (QStringList{"资产账号", "股东账号", "资金卡号", "银行卡号", "", "客户编号"}));
    EXPECT_EQ(form->ui().lbQzID->Items(), edit().Captions());
    // The host's preferred input kind "1": asset accounts.
    EXPECT_EQ(edit().InputWay(), TQZIDEdit::iwFundAccount);
    EXPECT_EQ(form->ui().lbQzID->text(), QStringLiteral("资产账号"));
    EXPECT_EQ(QApplication::focusWidget(), &edit());
    EXPECT_FALSE(okEnabled()); // no client shown
    EXPECT_TRUE(form->ui().btnCancel->isCancel());
    saveScreen("730101-empty");
}

TEST_F(ClientSyncReqTest, AnAssetAccountResolvesAndTheEditShowsItAsTheServerReturnsIt) {
    enter("080000001");
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_EQ(edit().text(), QStringLiteral("80000001"));
    EXPECT_EQ(panelTexts(), (QStringList{"80000001", "张三", "身份证", "440301198001010011",
                                         "普通客户", "散户大厅", "正常"}));
    EXPECT_EQ(statusColour(), QColor(0, 0, 0));
    EXPECT_TRUE(okEnabled());
    EXPECT_EQ(QApplication::focusWidget(), form->ui().hcbOpType); // Enter moved on
    saveScreen("730101-client");
    // The client information goes to the resolved account's branch.
    ASSERT_EQ(requestsOf(150010).size(), 1u);
    EXPECT_EQ(requestsOf(150010)[0].value("branch_no").toInt(), 8);
    EXPECT_EQ(requestsOf(150010)[0].value("client_id").toString(), "");
}

TEST_F(ClientSyncReqTest, AClientNumberOffersItsFundAccountsAndThePickIsShown) {
    switchTo(TQZIDEdit::iwCustomerNo);
    EXPECT_EQ(form->ui().lbQzID->text(), QStringLiteral("客户编号"));
    enter(" 100001");
    EXPECT_EQ(edit().text(), QStringLiteral("100001")); // the client number as the server writes it
    QListWidget* offered = edit().subAccountList();
    ASSERT_TRUE(offered->isVisible());
    ASSERT_EQ(offered->count(), 2);
    EXPECT_EQ(offered->item(0)->text(), "80000001");
    EXPECT_EQ(offered->item(1)->text(), "80000002");
    EXPECT_EQ(panelTexts(), empty7);
    EXPECT_FALSE(okEnabled()); // nothing picked yet
    saveScreen("730101-fund-accounts");
    pick(1);
    EXPECT_EQ(panelTexts(), (QStringList{"80000002", "张三", "身份证", "440301198001010011",
                                         "普通客户", "一号室", "正常"}));
    EXPECT_TRUE(okEnabled());
    // The pick is resolved as a fund account: way "1".
    const auto resolved = requestsOf(200086);
    ASSERT_EQ(resolved.size(), 2u);
    EXPECT_EQ(resolved[0].value("input_content").toString(), "6");
    EXPECT_EQ(resolved[1].value("input_content").toString(), "1");
    EXPECT_EQ(resolved[1].value("account_content").toString(), "80000002");
}

TEST_F(ClientSyncReqTest, AShareholderAccountAFundCardAndABankCardEachResolve) {
    switchTo(TQZIDEdit::iwStockAccount);
    QTest::keyClick(&edit(), Qt::Key_PageDown); // 深A
    ASSERT_EQ(edit().GetExchange(), "2");
    enter("123");
    EXPECT_EQ(edit().text(), QStringLiteral("0000000123")); // completed by exchange
    EXPECT_EQ(form->ui().lbFundAcco->text(), "80000001");
    EXPECT_TRUE(okEnabled());

    switchTo(TQZIDEdit::iwFundCard);
    enter("6200003");
    EXPECT_EQ(form->ui().lbFundAcco->text(), "80000003");
    EXPECT_EQ(form->ui().lbCustName->text(), QStringLiteral("李四"));

    switchTo(TQZIDEdit::iwBankCard);
    enter("6222000011112222");
    EXPECT_EQ(form->ui().lbFundAcco->text(), "80000001");
    EXPECT_EQ(form->ui().lbCustName->text(), QStringLiteral("张三"));
    EXPECT_TRUE(okEnabled());
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(ClientSyncReqTest, ClientsNotInTheNormalStateAreRefused) {
    // 王五: the client is frozen; its fund account is normal.
    enter("80000004");
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Information);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("该客户客户号状态为  冻结!!"));
    EXPECT_FALSE(okEnabled());
    EXPECT_EQ(form->ui().lbCustName->text(), QStringLiteral("王五")); // the panel keeps it
    // The panel's 客户状态 is the status that refused the client, not the fund account's 正常.
    EXPECT_EQ(form->ui().lbStatus->text(), QStringLiteral("冻结"));
    EXPECT_EQ(statusColour(), QColor(255, 0, 0));

    // 赵六: a normal client whose fund account is reported lost.
    enter("80000005");
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[1].text, QStringLiteral("该客户资金账户状态为  挂失!!"));
    EXPECT_EQ(form->ui().lbStatus->text(), QStringLiteral("挂失"));
    EXPECT_EQ(statusColour(), QColor(255, 0, 0));
    EXPECT_FALSE(okEnabled());
    saveScreen("730101-red-status");

    enter("80000001");
    EXPECT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(statusColour(), QColor(0, 0, 0));
    EXPECT_TRUE(okEnabled());
}

TEST_F(ClientSyncReqTest, OkSendsTheTenFieldsWithTheResolvedBranchThenClearsThePanel) {
    // 孙八 belongs to branch 9; the operator to branch 8.
    enter("80000007");
    ASSERT_TRUE(okEnabled());
    // The sync type picked with the keyboard: typing its code selects it.
    ASSERT_EQ(QApplication::focusWidget(), form->ui().hcbOpType);
    QTest::keyClicks(form->ui().hcbOpType, "2");
    EXPECT_EQ(form->ui().hcbOpType->currentText(), QStringLiteral("2|股份"));
    form->ui().btnOk->setFocus();
    QTest::keyClick(form->ui().btnOk, Qt::Key_Return);

    const auto sent = requestsOf(730000);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(
        sent[0].names(),
        (QStringList{"op_branch_no", "operator_no", "user_type", "op_station", "op_entrust_way",
                     "menu_id", "function_id", "branch_no", "fund_account", "sync_type"}));
    EXPECT_EQ(sent[0].value("op_branch_no").toInt(), 8);
    EXPECT_EQ(sent[0].value("operator_no").toString(), "1001");
    EXPECT_EQ(sent[0].value("op_entrust_way").toString(), "4");
    EXPECT_EQ(sent[0].value("menu_id").toInt(), 730101);
    EXPECT_EQ(sent[0].value("function_id").toInt(), 730000);
    EXPECT_EQ(sent[0].value("branch_no").toInt(), 9);
    EXPECT_EQ(sent[0].value("fund_account").toInt(), 80000007);
    EXPECT_EQ(sent[0].value("sync_type").toInt(), 2);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Information);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("发送同步请求成功！"));

    EXPECT_EQ(edit().text(), "");
    EXPECT_EQ(panelTexts(), empty7);
    EXPECT_EQ(QApplication::focusWidget(), &edit());
    // The panel shows no client: a second request cannot go out for the one just sent.
    EXPECT_FALSE(okEnabled());
    form->ui().btnOk->click();
    EXPECT_EQ(requestsOf(730000).size(), 1u);
}

TEST_F(ClientSyncReqTest, OkIsOffBeforeAnIdentificationAndAfterAFailedOne) {
    EXPECT_FALSE(okEnabled());
    form->ui().btnOk->click();
    EXPECT_TRUE(requestsOf(730000).empty());

    enter("80000001");
    ASSERT_TRUE(okEnabled());
    enter("89999999");
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_TRUE(dialogs->shown[0].text.contains(QStringLiteral("账户[89999999]不存在")));
    EXPECT_EQ(panelTexts(), empty7);
    EXPECT_FALSE(okEnabled());                       // 张三 is no longer shown
    EXPECT_EQ(QApplication::focusWidget(), &edit()); // the entry is kept to correct
    EXPECT_EQ(edit().text(), "89999999");
}

TEST_F(ClientSyncReqTest, EscClosesTheFormOnlyWithoutShiftKeys) {
    QTest::keyClick(&edit(), Qt::Key_Escape, Qt::ControlModifier);
    EXPECT_TRUE(form->isVisible());
    QTest::keyClick(&edit(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
}

TEST_F(ClientSyncReqTest, BizEntryOpensTheFormAndShowOnlyBringsItForward) {
    const WindowHandle handle = BizEntry(730101, 0, 0, host->appFrame(), 0);
    ASSERT_NE(handle, 0);
    QPointer<QWidget> opened = FormReference(FormClass::ClientSyncReq);
    ASSERT_FALSE(opened.isNull());
    auto* sync = qobject_cast<TfrmClientSyncReq*>(opened.data());
    ASSERT_NE(sync, nullptr);
    EXPECT_EQ(static_cast<WindowHandle>(sync->winId()), handle);
    EXPECT_EQ(sync->menuCode(), 730101);
    EXPECT_NE(sync->Fund(), nullptr);
    sync->hide();
    EXPECT_EQ(BizEntry(730101, 0, 0, host->appFrame(), 1), 0);
    EXPECT_TRUE(sync->isVisible());
    delete sync;
}
