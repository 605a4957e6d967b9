// Keys an operator uses, typed through the X server: F2 switches the identifier edit's
// input kind; at login Enter in 柜员号 goes on to 密码, and a prefilled operator number
// starts the dialog at 密码.
#include "XFormTest.h"

#include "ClientSyncReq.h"
#include "LoginDialog.h"
#include "ui_ClientSyncReq.h"

#include <QLabel>
#include <QLineEdit>

namespace {

using XClientSyncReqTest = XFormTest<TfrmClientSyncReq>;

} // namespace

TEST_F(XClientSyncReqTest, F2InTheIdentifierEditSwitchesTheInputKindAsTheLabelDoes) {
    openForm(730101);
    ASSERT_TRUE(xwindow::click(&edit()));
    ASSERT_TRUE(xwindow::waitFor([&] { return edit().hasFocus(); }));
    ASSERT_EQ(edit().InputWay(), TQZIDEdit::iwFundAccount); // the host prefers asset accounts
    const std::size_t sentBefore = requestCount();

    // Round the kinds that have a caption, the one without skipped, and back to the first.
    const std::vector<std::pair<int, QString>> round = {
        {TQZIDEdit::iwStockAccount, QStringLiteral("股东账号")},
        {TQZIDEdit::iwFundCard, QStringLiteral("资金卡号")},
        {TQZIDEdit::iwBankCard, QStringLiteral("银行卡号")},
        {TQZIDEdit::iwCustomerNo, QStringLiteral("客户编号")},
        {TQZIDEdit::iwFundAccount, QStringLiteral("资产账号")}};
    for (const auto& [way, caption] : round) {
        ASSERT_TRUE(xwindow::keys({"F2"}));
        ASSERT_TRUE(xwindow::waitFor([&, way = way] { return edit().InputWay() == way; }))
            << "expected kind " << way << ", have " << edit().InputWay();
        EXPECT_EQ(form->ui().lbQzID->text(), caption);
        EXPECT_EQ(edit().GetWay(), "153426"[way]);
        EXPECT_TRUE(edit().hasFocus());
    }
    EXPECT_EQ(requestCount(), sentBefore); // switching asks the back office nothing

    // Switched by key to 客户编号, a client number is taken as one: its fund accounts are
    // offered to pick from.
    ASSERT_TRUE(xwindow::type(QStringLiteral("100001")));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(xwindow::keys({"F2"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return edit().InputWay() == TQZIDEdit::iwCustomerNo; }));
    // What was typed stays, selected, to be typed over or taken as the new kind.
    EXPECT_EQ(edit().text(), QStringLiteral("100001"));
    EXPECT_EQ(edit().selectedText(), QStringLiteral("100001"));
    EXPECT_FALSE(xwindow::grabWindow(form, "x-730101-f2-client-number").isEmpty());
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return edit().subAccountList()->isVisible(); }));
    EXPECT_EQ(edit().subAccountList()->count(), 2);
}

namespace {

// The counter's login on the embedded training back office, in the X window.
class XLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        ASSERT_TRUE(dir.isValid());
        transcript = dir.filePath("transcript.jsonl");
        host = transcriptHost(dir.filePath("office.db"), transcript);
        login =
            std::make_unique<counter::LoginDialog>([this](const QString& op, const QString& pw) {
                return QString::fromStdString(host->login(op.toStdString(), pw.toStdString(), "1"));
            });
    }
    void TearDown() override {
        login.reset();
        host.reset();
        counter::unregisterHostClasses();
    }

    QLineEdit* field(const char* name) const { return login->findChild<QLineEdit*>(name); }
    QString message() const { return login->findChild<QLabel*>("message")->text(); }
    // The login requests sent so far.
    int logins() {
        QFile file(transcript);
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return static_cast<int>(file.readAll().count("\"function\":100001,"));
    }
    void show() {
        login->show();
        ASSERT_TRUE(xwindow::activate(login.get()));
    }

    QTemporaryDir dir;
    QString transcript;
    std::unique_ptr<counter::CounterHost> host;
    std::unique_ptr<counter::LoginDialog> login;
};

} // namespace

TEST_F(XLoginTest, WithTheOperatorNumberPrefilledTheDialogStartsAtThePassword) {
    login->prefill(QStringLiteral("1001"), QString());
    show();
    ASSERT_TRUE(xwindow::waitFor([&] { return field("password")->hasFocus(); }));
    EXPECT_FALSE(xwindow::grabWindow(login.get(), "x-login-prefilled").isEmpty());
    ASSERT_TRUE(xwindow::type(QStringLiteral("pass1001")));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return login->result() == QDialog::Accepted; }));
    EXPECT_EQ(logins(), 1);
    EXPECT_EQ(host->operatorName(), "张敏");
}

TEST_F(XLoginTest, EnterInTheOperatorNumberGoesOnToThePasswordWithoutLoggingIn) {
    login->prefill(QString(), QString());
    show();
    ASSERT_TRUE(xwindow::waitFor([&] { return field("operatorNo")->hasFocus(); }));
    ASSERT_TRUE(xwindow::type(QStringLiteral("1001")));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return field("password")->hasFocus(); }));
    xwindow::spin(100);
    EXPECT_EQ(logins(), 0); // no login with an empty password
    EXPECT_EQ(message(), QString());
    EXPECT_TRUE(login->isVisible());

    // Back in 柜员号 with the pointer, Enter again: still only on to 密码.
    ASSERT_TRUE(xwindow::click(field("operatorNo")));
    ASSERT_TRUE(xwindow::waitFor([&] { return field("operatorNo")->hasFocus(); }));
    ASSERT_TRUE(xwindow::keys({"KP_Enter"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return field("password")->hasFocus(); }));
    EXPECT_EQ(logins(), 0);

    ASSERT_TRUE(xwindow::type(QStringLiteral("pass1001")));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return login->result() == QDialog::Accepted; }));
    EXPECT_EQ(logins(), 1);
}
