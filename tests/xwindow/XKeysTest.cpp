// The arrows and the form's edges, in the X window, with the form inside a host window that
// has a tab bar of its own, as the counter shows it: Up and Down only move the focus (a
// combo box's value changes through its drop-down), the focus never leaves the form, and
// the identifier edit's exchange box is in the tab order; another exchange makes the entry
// pending again.
#include "XFormTest.h"

#include "ClientSyncReq.h"
#include "Clientmodi.h"
#include "TQZIDEdit.h"
#include "TQzBitBtn.h"
#include "TQzComboBox.h"
#include "ui_ClientSyncReq.h"
#include "ui_Clientmodi.h"

#include <QComboBox>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QTabBar>
#include <QVBoxLayout>

namespace {

template <class Form> class XKeysTest : public XFormTest<Form> {
protected:
    void TearDown() override {
        XFormTest<Form>::TearDown();
        delete window;
    }

    // The form embedded in a host window with a menu and a tab bar that takes the focus
    // too.
    void openInHost(std::int32_t menuCode) {
        window = new QMainWindow;
        menu = window->menuBar()->addMenu(QStringLiteral("业务(&B)"));
        for (const char* item : {"730101 客户信息同步", "730105 VIP客户查询"})
            menu->addAction(QString::fromUtf8(item),
                            [this, item] { chosen = QString::fromUtf8(item); });
        auto* central = new QWidget;
        window->setCentralWidget(central);
        auto* layout = new QVBoxLayout(central);
        hostTabs = new QTabBar;
        hostTabs->addTab(QStringLiteral("首页"));
        hostTabs->addTab(QStringLiteral("业务"));
        hostTabs->setFocusPolicy(Qt::StrongFocus);
        auto* page = new QScrollArea;
        page->setAttribute(Qt::WA_NativeWindow);
        layout->addWidget(hostTabs);
        layout->addWidget(page);
        window->resize(640, 520);
        window->show();
        this->form = new Form;
        this->form->InitFromHost(menuCode, page->winId(), 0, this->host->appFrame());
        page->setWidget(this->form);
        this->form->show();
        ASSERT_TRUE(xwindow::activate(window));
        ASSERT_TRUE(xwindow::click(&this->edit()));
        ASSERT_TRUE(xwindow::waitFor([&] { return this->edit().hasFocus(); }));
    }

    bool focusIn(const QWidget* w) {
        return xwindow::waitFor([w] { return QApplication::focusWidget() == w; }, 3000);
    }

    QMainWindow* window = nullptr;
    QMenu* menu = nullptr;
    QString chosen; // the menu item the operator chose
    QTabBar* hostTabs = nullptr;
};

using XKeysSyncTest = XKeysTest<TfrmClientSyncReq>;
using XKeysModiTest = XKeysTest<TfrmClientmodi>;

} // namespace

TEST_F(XKeysSyncTest, WalkingWithTheArrowsChangesNoComboBoxAndSendsTheTypeChosen) {
    openInHost(730101);
    ASSERT_TRUE(xwindow::type("80000002"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().btnOk->isEnabled(); }));
    ASSERT_TRUE(focusIn(form->ui().hcbOpType));
    ASSERT_TRUE(xwindow::keys({"Tab"}));
    ASSERT_TRUE(focusIn(form->ui().btnOk));
    // Back and forth over 同步类型: the focus moves, the value stays.
    ASSERT_TRUE(xwindow::keys({"Up"}));
    EXPECT_TRUE(focusIn(form->ui().hcbOpType));
    ASSERT_TRUE(xwindow::keys({"Up"}));
    EXPECT_TRUE(focusIn(&edit()));
    ASSERT_TRUE(xwindow::keys({"Down"}));
    EXPECT_TRUE(focusIn(form->ui().hcbOpType));
    ASSERT_TRUE(xwindow::keys({"Down"}));
    EXPECT_TRUE(focusIn(form->ui().btnOk));
    EXPECT_EQ(form->ui().hcbOpType->ItemIndex(), 0);
    // The value is chosen in the drop-down: Alt+Down opens it, Down and Enter choose.
    ASSERT_TRUE(xwindow::keys({"Up"}));
    ASSERT_TRUE(focusIn(form->ui().hcbOpType));
    ASSERT_TRUE(xwindow::keys({"alt+Down"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hcbOpType->view()->isVisible(); }));
    ASSERT_TRUE(xwindow::keys({"Down", "Down", "Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hcbOpType->ItemIndex() == 2; }));
    ASSERT_TRUE(xwindow::waitFor([&] { return !form->ui().hcbOpType->view()->isVisible(); }));
    ASSERT_TRUE(xwindow::keys({"Down"}));
    ASSERT_TRUE(focusIn(form->ui().btnOk));
    EXPECT_EQ(form->ui().hcbOpType->ItemIndex(), 2);
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return requestsOf(730000).size() == 1u; }));
    EXPECT_EQ(requestsOf(730000)[0].value("sync_type").toInt(), 2);
}

TEST_F(XKeysModiTest, TheFocusWrapsAtTheFormsEdgesAndNeverReachesTheHostsTabBar) {
    openInHost(730102);
    ASSERT_TRUE(xwindow::type("80000011"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(focusIn(form->ui().hedDicrate));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(focusIn(form->ui().btnOk));
    ASSERT_TRUE(xwindow::keys({"Down"}));
    EXPECT_TRUE(focusIn(form->ui().btnCancel));
    ASSERT_TRUE(xwindow::keys({"Down"}));
    EXPECT_TRUE(focusIn(&edit())) << "Down on the last control wraps to the first";
    ASSERT_TRUE(xwindow::keys({"Up"}));
    EXPECT_TRUE(focusIn(form->ui().btnCancel)) << "Up on the first control wraps to the last";
    ASSERT_TRUE(xwindow::keys({"Tab"}));
    EXPECT_TRUE(focusIn(&edit()));
    ASSERT_TRUE(xwindow::keys({"shift+Tab"}));
    EXPECT_TRUE(focusIn(form->ui().btnCancel));
    ASSERT_TRUE(xwindow::keys({"Left", "Right", "Left"}));
    xwindow::spin(200);
    EXPECT_TRUE(form->isAncestorOf(QApplication::focusWidget()));
    EXPECT_FALSE(hostTabs->hasFocus());
    EXPECT_TRUE(requestsOf(730001).empty());
}

TEST_F(XKeysSyncTest, TheExchangeBoxIsInTheTabOrderAndAnotherExchangeChecksTheEntryAgain) {
    openInHost(730101);
    ASSERT_TRUE(xwindow::keys({"F2"})); // 资产账号 -> 股东账号
    ASSERT_EQ(edit().InputWay(), TQZIDEdit::iwStockAccount);
    QComboBox* exchange = edit().exchangeBox();
    ASSERT_EQ(edit().GetExchange(), "1"); // 沪A
    ASSERT_TRUE(xwindow::type("123"));
    // Shift+Tab reaches the box without checking the entry; Tab goes back to the edit.
    const std::size_t before = requestCount();
    ASSERT_TRUE(xwindow::keys({"shift+Tab"}));
    ASSERT_TRUE(focusIn(exchange));
    ASSERT_TRUE(xwindow::keys({"Tab"}));
    ASSERT_TRUE(focusIn(&edit()));
    EXPECT_EQ(requestCount(), before);
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().btnOk->isEnabled(); }));
    EXPECT_EQ(edit().text(), "A000000123");
    EXPECT_EQ(form->ui().lbFundAcco->text(), "80000001");
    // 深A, chosen in the box: the panel empties and 确定 goes off at once.
    ASSERT_TRUE(xwindow::click(&edit()));
    ASSERT_TRUE(xwindow::keys({"shift+Tab"}));
    ASSERT_TRUE(focusIn(exchange));
    ASSERT_TRUE(xwindow::keys({"Next"})); // PageDown
    ASSERT_TRUE(xwindow::waitFor([&] { return edit().GetExchange() == "2"; }));
    EXPECT_FALSE(form->ui().btnOk->isEnabled());
    EXPECT_EQ(form->ui().lbFundAcco->text(), "");
    EXPECT_EQ(form->ui().lbCustName->text(), "");
    EXPECT_EQ(edit().text(), "123") << "the digits as typed, not the padding for 沪A";
    // Enter moves on to the edit, the next checks the digits for 深A.
    const std::size_t resolutions = requestsOf(200086).size();
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(focusIn(&edit()));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().btnOk->isEnabled(); }));
    const auto sent = requestsOf(200086);
    ASSERT_GT(sent.size(), resolutions);
    EXPECT_EQ(sent.back().value("account_type").toString(), "2");
    EXPECT_EQ(sent.back().value("account_content").toString(), "0000000123");
    // PageUp in the edit is a change of exchange as well.
    ASSERT_TRUE(xwindow::click(&edit()));
    ASSERT_TRUE(xwindow::keys({"Prior"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return !form->ui().btnOk->isEnabled(); }));
    EXPECT_EQ(edit().GetExchange(), "1");
    EXPECT_EQ(edit().text(), "123");
}

TEST_F(XKeysSyncTest, AClosedPickListStaysClosedAndTheMenuGetsItsKeys) {
    openInHost(730101);
    ASSERT_TRUE(xwindow::keys({"F2", "F2", "F2", "F2"}));
    ASSERT_EQ(edit().InputWay(), TQZIDEdit::iwCustomerNo);
    ASSERT_TRUE(xwindow::type("100009"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    QListWidget* list = edit().subAccountList();
    ASSERT_TRUE(xwindow::waitFor([&] { return list->isVisible(); }));
    ASSERT_TRUE(xwindow::keys({"Escape"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return !list->isVisible(); }));
    ASSERT_TRUE(focusIn(&edit()));
    const std::size_t sent = requestCount();
    ASSERT_TRUE(xwindow::keys({"alt+b"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return menu->isVisible(); }));
    xwindow::spin(300);
    EXPECT_FALSE(list->isVisible()) << "the pick list came back over the menu";
    ASSERT_TRUE(xwindow::keys({"Down", "Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return !chosen.isEmpty(); }));
    EXPECT_FALSE(chosen.isEmpty());
    xwindow::spin(300);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(form->ui().lbFundAcco->text(), "");
    EXPECT_EQ(requestCount(), sent);
    // The operator opens it again with Enter in the edit.
    ASSERT_TRUE(xwindow::click(&edit()));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return list->isVisible(); }));
    ASSERT_TRUE(xwindow::keys({"Down", "Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().lbFundAcco->text() == "80000012"; }));
}
