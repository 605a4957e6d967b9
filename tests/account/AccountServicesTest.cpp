// The account services driven through a framework form against the embedded training back
// office; the transcript shows what each request carried.

#include "ScriptedDialogs.h"
#include "TranscriptHost.h"

#include "BizRequest.h"
#include "ClsClientInfo.h"
#include "ClsFund.h"
#include "CounterHost.h"
#include "HostClasses.h"
#include "QZForm.h"
#include "SysConfig.h"
#include "TQZIDEdit.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class AccountForm : public TQZFormBase {
protected:
    void HostAttached() override { LoadSession(); }
};

// A request field as the transcript shows it: name, then its value as JSON (texts quoted).
struct Sent {
    QString name;
    QJsonValue value;
};

class AccountServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        ASSERT_TRUE(dir.isValid());
        transcript = dir.filePath("transcript.jsonl");
        host = transcriptHost(dir.filePath("office.db"), transcript);
        ASSERT_EQ(host->login("1001", "pass1001", "1"), "");
        form.InitFromHost(730102, 0, 0, host->appFrame());
    }
    void TearDown() override { counter::unregisterHostClasses(); }

    // The fields of every request of the function, in the order they were sent.
    std::vector<std::vector<Sent>> requestsOf(int function) {
        QFile file(transcript);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        std::vector<std::vector<Sent>> found;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("dir").toString() != "request" || o.value("function").toInt() != function)
                continue;
            std::vector<Sent> fields;
            for (const QJsonValue& f : o.value("fields").toArray())
                fields.push_back({f.toArray().at(0).toString(), f.toArray().at(1)});
            found.push_back(fields);
        }
        return found;
    }
    std::vector<Sent> lastRequestOf(int function) {
        auto all = requestsOf(function);
        return all.empty() ? std::vector<Sent>{} : all.back();
    }
    static QStringList names(const std::vector<Sent>& fields) {
        QStringList out;
        for (const Sent& f : fields)
            out << f.name;
        return out;
    }
    static QJsonValue valueOf(const std::vector<Sent>& fields, const QString& name) {
        for (const Sent& f : fields) {
            if (f.name == name)
                return f.value;
        }
        return QJsonValue(QJsonValue::Undefined);
    }

    QTemporaryDir dir;
    QString transcript;
    std::unique_ptr<counter::CounterHost> host;
    AccountForm form;
};

const QStringList standardHeader{"op_branch_no",   "operator_no", "user_type",  "op_station",
                                 "op_entrust_way", "menu_id",     "function_id"};

TEST_F(AccountServicesTest, ConfigurationLookupSendsItsOwnHeaderAndRemembersNothing) {
    ScriptedDialogs::Installed dialogs;
    TSysConfigList config(form);
    EXPECT_EQ(config.GetAccountLength(), 8);
    std::int32_t value = -1;
    EXPECT_TRUE(config.QueryConfig(1129, value, 9));
    EXPECT_EQ(value, 8);
    // No row for an unknown setting: false, the value untouched, nothing shown.
    value = -1;
    EXPECT_FALSE(config.QueryConfig(4321, value));
    EXPECT_EQ(value, -1);
    EXPECT_EQ(config.GetAccountLength(), 8);
    EXPECT_TRUE(dialogs->shown.empty());

    const auto sent = requestsOf(105006);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(names(sent[0]),
              QStringList({"op_branch_no", "operator_no", "op_password", "op_station",
                           "op_entrust_way", "function_id", "branch_no", "config_no"}));
    EXPECT_EQ(sent[0][0].value, QJsonValue(8)); // as stored: an integer
    EXPECT_EQ(sent[0][1].value, QJsonValue("1001"));
    EXPECT_EQ(sent[0][4].value, QJsonValue("4"));
    EXPECT_EQ(sent[0][5].value, QJsonValue(105006));
    EXPECT_EQ(sent[0][6].value, QJsonValue(8)); // 0 stands for the operator's branch
    EXPECT_EQ(sent[0][7].value, QJsonValue(1129));
    EXPECT_EQ(sent[1][6].value, QJsonValue(9));
    EXPECT_EQ(sent[2][7].value, QJsonValue(4321));
    // Every lookup is a request of its own, the same each time.
    EXPECT_EQ(names(sent[3]), names(sent[0]));
    for (std::size_t i = 0; i < sent[0].size(); ++i)
        EXPECT_EQ(sent[3][i].value, sent[0][i].value);
}

TEST_F(AccountServicesTest, ConfigurationServerErrorIsShownAndTheWidthIsZero) {
    ScriptedDialogs::Installed dialogs;
    check(form.GetStorage()->SetValue("Password", Variant("not-the-password")), "SetValue");
    TSysConfigList config(form);
    EXPECT_EQ(config.GetAccountLength(), 0);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[0].text, ReplyErrorText("1012", "1", "操作员[1001]密码错误"));
}

struct WayCase {
    char way;
    const char* exchange;
    const char* bank;
    const char* entry;
    std::int32_t fundAccount;
    std::int32_t branch;
    const char* sentWay;
    const char* sentContent;
};

// Every input way of the identifier edit, with every exchange it offers, as the forms call
// it: a bank number holding one NUL character.
const WayCase everyWay[] = {
    {'1', "", "", "80000002", 80000002, 8, "1", "80000002"},
    {'2', "", "", "80000009", 80000009, 10, "2", "80000009"},
    {'3', "", "", "6200003", 80000003, 8, "3", "6200003"},
    {'4', "", "", "6225880033334444", 80000003, 8, "4", "6225880033334444"},
    {'4', "", "1", "6222000011112222", 80000001, 8, "4", "6222000011112222"},
    {'5', "1", "", "123", 80000001, 8, "5", "A000000123"},
    {'5', "2", "", "123", 80000001, 8, "5", "0000000123"},
    {'5', "D", "", "456", 80000003, 8, "5", "C000000456"},
    {'5', "H", "", "789", 80000004, 8, "5", "00000789"},
    {'5', "F1", "", "F100000001", 80000006, 9, "A", "F100000001"},
    {'5', "F2", "", "F200000002", 80000007, 9, "A", "F200000002"},
    {'5', "F3", "", "F300000003", 80000008, 10, "A", "F300000003"},
    {'5', "F4", "", "F400000004", 80000008, 10, "A", "F400000004"},
    {'6', "", "", "100005", 80000006, 9, "6", "100005"},
};

TEST_F(AccountServicesTest, EveryInputWayResolvesToItsFundAccountAndBranch) {
    ScriptedDialogs::Installed dialogs;
    TFund fund(form);
    for (const WayCase& c : everyWay) {
        SCOPED_TRACE(std::string(1, c.way) + " " + c.exchange + " " + c.entry);
        const std::string bank = *c.bank ? std::string(c.bank) : std::string(1, '\0');
        ASSERT_TRUE(fund.ResolveAccount(c.way, c.exchange, bank, c.entry, '0'));
        EXPECT_EQ(fund.fund_account, c.fundAccount);
        EXPECT_EQ(fund.account_content, c.sentContent);
        EXPECT_EQ(CommonInfo().clientBranchNo, c.branch);
        EXPECT_EQ(form.currentClientBranchNo, c.branch);

        const auto sent = lastRequestOf(200086);
        EXPECT_EQ(valueOf(sent, "input_content"), QJsonValue(c.sentWay));
        EXPECT_EQ(valueOf(sent, "account_content"), QJsonValue(c.sentContent));
        if (c.way == '4') {
            EXPECT_EQ(valueOf(sent, "bank_no"), QJsonValue(QString::fromStdString(bank)));
        } else {
            const bool byExchange = c.way == '1' || c.way == '2' || c.way == '5';
            EXPECT_EQ(valueOf(sent, "account_type"), QJsonValue(byExchange ? c.exchange : "0"));
        }
    }
    EXPECT_TRUE(dialogs->shown.empty());
    // Each resolution asks for the account width first.
    EXPECT_EQ(requestsOf(105006).size(), std::size(everyWay));
}

TEST_F(AccountServicesTest, ResolutionRequestCarriesThirteenFieldsInOrder) {
    TFund fund(form);
    ASSERT_TRUE(fund.ResolveAccount('5', "F3", std::string(1, '\0'), "F300000003", '0'));
    EXPECT_EQ(fund.account_type, 'F');
    const auto sent = lastRequestOf(200086);
    QStringList expected = standardHeader;
    expected << "input_content"
             << "bank_no"
             << "check_type"
             << "account_type"
             << "account_content"
             << "branch_no";
    EXPECT_EQ(names(sent), expected);
    EXPECT_EQ(sent[2].value, QJsonValue("1")); // user_type as stored
    EXPECT_EQ(sent[5].value, QJsonValue(730102));
    EXPECT_EQ(sent[6].value, QJsonValue(200086));
    EXPECT_EQ(sent[8].value, QJsonValue("0"));
    EXPECT_EQ(sent[9].value, QJsonValue("0"));
    EXPECT_EQ(sent[12].value, QJsonValue(8)); // the operator's branch

    // Way "4": bank_no once, where "0" was first set, now holding the bank number.
    ASSERT_TRUE(fund.ResolveAccount('4', "", "2", "6225880033334444", '0'));
    const auto bank = lastRequestOf(200086);
    EXPECT_EQ(names(bank), QStringList(expected.mid(0, 10)) << "account_content"
                                                            << "branch_no");
    EXPECT_EQ(bank[8].value, QJsonValue("2"));
}

TEST_F(AccountServicesTest, ShortEntriesArePaddedToTheWidthOnlyForWay2) {
    TFund fund(form);
    // Unknown accounts: the error is suppressed, only what was sent matters here.
    EXPECT_FALSE(fund.ResolveAccount('2', "", std::string(1, '\0'), "  4567", '1'));
    EXPECT_EQ(valueOf(lastRequestOf(200086), "account_content"), QJsonValue("00004567"));
    EXPECT_FALSE(fund.ResolveAccount('3', "", std::string(1, '\0'), "4567", '1'));
    EXPECT_EQ(valueOf(lastRequestOf(200086), "account_content"), QJsonValue("4567"));
    EXPECT_EQ(valueOf(lastRequestOf(200086), "account_type"), QJsonValue("0"));
    EXPECT_FALSE(fund.ResolveAccount('2', "", std::string(1, '\0'), "123456789", '1'));
    EXPECT_EQ(valueOf(lastRequestOf(200086), "account_content"), QJsonValue("123456789"));
    // The futures exchanges complete nothing: their first character matches no exchange.
    EXPECT_FALSE(fund.ResolveAccount('5', "F3", std::string(1, '\0'), "123", '1'));
    EXPECT_EQ(valueOf(lastRequestOf(200086), "account_content"), QJsonValue("123"));
    EXPECT_EQ(valueOf(lastRequestOf(200086), "input_content"), QJsonValue("A"));
}

TEST_F(AccountServicesTest, UnresolvedEntryChangesNothingAndShowsTheErrorOnlyInMode0) {
    ScriptedDialogs::Installed dialogs;
    TFund fund(form);
    ASSERT_TRUE(fund.ResolveAccount('1', "", std::string(1, '\0'), "80000006", '0'));
    EXPECT_FALSE(fund.ResolveAccount('1', "", std::string(1, '\0'), "80009999", '1'));
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_FALSE(fund.ResolveAccount('3', "", std::string(1, '\0'), "7777777", '0'));
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[0].text, ReplyErrorText("2001", "1", "账户[7777777]不存在"));
    EXPECT_EQ(fund.fund_account, 80000006);
    EXPECT_EQ(fund.account_content, "80000006");
    EXPECT_EQ(CommonInfo().clientBranchNo, 9);
    EXPECT_EQ(form.currentClientBranchNo, 9);
}

TEST_F(AccountServicesTest, FundAccountRecordIsLoadedWithItsConversions) {
    ScriptedDialogs::Installed dialogs;
    TFund fund(form);
    ASSERT_TRUE(fund.LoadAccountInfo(80000003));
    const TFundAccountInfo& a = fund.FundAccountInfo;
    EXPECT_EQ(a.client_id, "100002");
    EXPECT_EQ(a.branch_no, 8);
    EXPECT_EQ(a.main_flag, '1');
    EXPECT_EQ(a.client_group, 1);
    EXPECT_EQ(a.room_code, 3);
    EXPECT_EQ(a.en_entrust_way, "0124Z");
    EXPECT_EQ(a.bank_no, "2");
    EXPECT_EQ(a.open_date, 20160512);
    EXPECT_EQ(a.fundacct_status, '0');
    EXPECT_DOUBLE_EQ(a.discount_rate, 0.8);
    EXPECT_EQ(a.organ_audit_date, 20160520);

    // An abnormal account whose audit date is no integer; the empty date likewise.
    ASSERT_TRUE(fund.LoadAccountInfo(80000005));
    EXPECT_EQ(a.client_id, "100004");
    EXPECT_EQ(a.fundacct_status, '2');
    EXPECT_EQ(a.organ_audit_date, 29991231);
    EXPECT_EQ(a.remark, "挂失中");
    ASSERT_TRUE(fund.LoadAccountInfo(80000002));
    EXPECT_EQ(a.organ_audit_date, 29991231);
    EXPECT_EQ(a.fund_card, "");
    EXPECT_TRUE(dialogs->shown.empty());

    const auto sent = lastRequestOf(200076);
    EXPECT_EQ(names(sent), QStringList({"op_branch_no", "operator_no", "user_type", "op_station",
                                        "op_entrust_way", "menu_id", "client_id", "function_id",
                                        "fund_account"}));
    EXPECT_EQ(sent[6].value, QJsonValue(""));
    EXPECT_EQ(sent[8].value, QJsonValue(80000002));

    // An unknown account: the server's error, the record as it was.
    EXPECT_FALSE(fund.LoadAccountInfo(80009999));
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, ReplyErrorText("2001", "1", "资金账户[80009999]不存在"));
    EXPECT_EQ(a.client_id, "100001");
}

TEST_F(AccountServicesTest, SubAccountsGoToTheEditOneAccountPerLine) {
    ScriptedDialogs::Installed dialogs;
    TFund fund(form);
    TQZIDEdit edit;
    ASSERT_TRUE(fund.LoadSubAccounts(edit, "100009"));
    QStringList offered;
    for (int i = 0; i < edit.subAccountList()->count(); ++i)
        offered << edit.subAccountList()->item(i)->text();
    EXPECT_EQ(offered, QStringList({"80000011", "80000012", "80000013"}));

    const auto sent = lastRequestOf(200105);
    QStringList expected{"op_branch_no", "operator_no",    "user_type", "op_password",
                         "op_station",   "op_entrust_way", "menu_id",   "function_id",
                         "branch_no",    "audit_action",   "action_in", "client_id"};
    EXPECT_EQ(names(sent), expected);
    EXPECT_EQ(sent[8].value, QJsonValue(0));
    EXPECT_EQ(sent[9].value, QJsonValue("0"));
    EXPECT_EQ(sent[10].value, QJsonValue(0));
    EXPECT_EQ(sent[11].value, QJsonValue("100009"));

    // A client without fund accounts, then an unknown client: the edit keeps its list.
    EXPECT_FALSE(fund.LoadSubAccounts(edit, "100010"));
    EXPECT_FALSE(fund.LoadSubAccounts(edit, "199999"));
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[0].text, "该客户号无对应资产账户！");
    EXPECT_EQ(dialogs->shown[1].text, ReplyErrorText("2002", "1", "客户[199999]不存在"));
    EXPECT_EQ(edit.subAccountList()->count(), 3);
}

TEST_F(AccountServicesTest, ClientInformationIsAskedForWithTheResolvedBranch) {
    ScriptedDialogs::Installed dialogs;
    TFund fund(form);
    TClientInfo client(form);
    // Before any resolution the client branch is 0.
    ASSERT_TRUE(client.LoadClientInfo(80000001, "", '0'));
    EXPECT_EQ(client.client_name, "张三");
    EXPECT_EQ(valueOf(lastRequestOf(150010), "branch_no"), QJsonValue(0));

    ASSERT_TRUE(fund.ResolveAccount('6', "", std::string(1, '\0'), "100003", '0'));
    ASSERT_TRUE(client.LoadClientInfo(fund.fund_account, "", '0'));
    EXPECT_EQ(client.client_id, "100003");
    EXPECT_EQ(client.branch_no, 8);
    EXPECT_EQ(client.client_name, "王五");
    EXPECT_EQ(client.id_kind, '1');
    EXPECT_EQ(client.id_no, "E12345678");
    EXPECT_EQ(client.open_date, 20170601);
    EXPECT_EQ(client.id_term, 20270101);
    EXPECT_EQ(client.risk_level, 2);
    EXPECT_EQ(client.client_status, '1'); // not normal

    ASSERT_TRUE(fund.ResolveAccount('5', "F1", std::string(1, '\0'), "F100000001", '0'));
    ASSERT_TRUE(client.LoadClientInfo(fund.fund_account, "", '0'));
    EXPECT_EQ(client.client_name, "钱七");
    const auto sent = lastRequestOf(150010);
    QStringList expected{"op_branch_no", "operator_no",    "user_type", "op_password",
                         "op_station",   "op_entrust_way", "menu_id",   "function_id",
                         "audit_action", "fund_account",   "client_id", "branch_no"};
    EXPECT_EQ(names(sent), expected);
    EXPECT_EQ(sent[8].value, QJsonValue("0"));
    EXPECT_EQ(sent[9].value, QJsonValue(80000006));
    EXPECT_EQ(sent[10].value, QJsonValue(""));
    EXPECT_EQ(sent[11].value, QJsonValue(9)); // the client's branch, not the operator's 8
    EXPECT_TRUE(dialogs->shown.empty());

    // An unknown account: the error in mode "0", silence otherwise; the fields stay.
    EXPECT_FALSE(client.LoadClientInfo(80009999, "", '1'));
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_FALSE(client.LoadClientInfo(80009999, "", '0'));
    EXPECT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(client.client_name, "钱七");
}

} // namespace
