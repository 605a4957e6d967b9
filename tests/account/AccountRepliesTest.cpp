// The account services on replies the training back office never sends, from a scripted
// communication object; and the sub-account list's ownership.

#include "../framework/HostFixture.h"
#include "ScriptedDialogs.h"

#include "BizRequest.h"
#include "ClsClientInfo.h"
#include "ClsFund.h"
#include "QZForm.h"
#include "SysConfig.h"
#include "TQZIDEdit.h"

#include <QListWidget>

#include <cstring>

namespace {

using protocol::FieldType;

struct Column {
    const char* name;
    FieldType type;
};

// A reply with return code 0 and the records given, values in column order.
std::string records(const std::vector<Column>& columns,
                    const std::vector<std::vector<Variant>>& rows) {
    protocol::PacketWriter w(0, 0);
    for (const Column& c : columns)
        w.addField(c.name, c.type);
    for (const auto& row : rows) {
        w.beginRecord();
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (columns[i].type == FieldType::Integer)
                w.integer(row[i].integer());
            else if (columns[i].type == FieldType::Real)
                w.real(row[i].real());
            else
                w.text(row[i].text());
        }
    }
    std::string out;
    w.finish(out);
    return out;
}

std::string serverError(const std::string& info) {
    protocol::PacketWriter w(0, 2001);
    w.addField("error_no", FieldType::Integer);
    w.addField("error_svrno", FieldType::Integer);
    w.addField("error_info", FieldType::Text);
    w.beginRecord();
    w.integer(2001);
    w.integer(1);
    w.text(info);
    std::string out;
    w.finish(out);
    return out;
}

std::string width(std::int64_t value) {
    return records({{"int_config", FieldType::Integer}}, {{Variant(value)}});
}

const std::vector<Column> resolution{{"fund_account", FieldType::Integer},
                                     {"account_type", FieldType::Text},
                                     {"branch_no", FieldType::Integer},
                                     {"account_content", FieldType::Text}};

const std::vector<Column> accountRecord{
    {"client_id", FieldType::Text},        {"branch_no", FieldType::Integer},
    {"fund_card", FieldType::Text},        {"main_flag", FieldType::Text},
    {"client_group", FieldType::Integer},  {"room_code", FieldType::Integer},
    {"asset_prop", FieldType::Text},       {"fare_kind_str", FieldType::Text},
    {"en_entrust_way", FieldType::Text},   {"client_rights", FieldType::Text},
    {"restriction", FieldType::Text},      {"open_trades", FieldType::Text},
    {"profit_flag", FieldType::Text},      {"bank_no", FieldType::Text},
    {"open_date", FieldType::Integer},     {"cancel_date", FieldType::Integer},
    {"fundacct_status", FieldType::Text},  {"organ_flag", FieldType::Text},
    {"organ_audit_date", FieldType::Text}, {"square_flag", FieldType::Text},
    {"remark", FieldType::Text},           {"discount_rate", FieldType::Real},
    {"product_flag", FieldType::Text}};

std::vector<Variant> accountRow(const char* clientId, const char* auditDate, const char* mainFlag) {
    return {Variant(clientId),
            Variant(std::int64_t{8}),
            Variant("6200001"),
            Variant(mainFlag),
            Variant(std::int64_t{1}),
            Variant(std::int64_t{3}),
            Variant("0"),
            Variant(""),
            Variant("014"),
            Variant(""),
            Variant(""),
            Variant(""),
            Variant("0"),
            Variant("1"),
            Variant(std::int64_t{20150310}),
            Variant(std::int64_t{0}),
            Variant("0"),
            Variant("0"),
            Variant(auditDate),
            Variant("0"),
            Variant("r"),
            Variant(0.75),
            Variant("1")};
}

const std::vector<Column> clientRecord{
    {"client_id", FieldType::Text},        {"branch_no", FieldType::Integer},
    {"dev_branch_no", FieldType::Integer}, {"client_card", FieldType::Text},
    {"client_name", FieldType::Text},      {"corp_client_group", FieldType::Integer},
    {"asset_prop", FieldType::Text},       {"client_sex", FieldType::Text},
    {"nationality", FieldType::Text},      {"foreign_flag", FieldType::Text},
    {"id_kind", FieldType::Text},          {"id_no", FieldType::Text},
    {"open_date", FieldType::Integer},     {"cancel_date", FieldType::Integer},
    {"client_status", FieldType::Text},    {"id_begindate", FieldType::Integer},
    {"id_term", FieldType::Integer},       {"risk_level", FieldType::Integer}};

std::vector<Variant> clientRow(const std::string& id, const std::string& name, const char* status) {
    return {Variant(id),
            Variant(std::int64_t{9}),
            Variant(std::int64_t{9}),
            Variant(""),
            Variant(name),
            Variant(std::int64_t{2}),
            Variant("0"),
            Variant("1"),
            Variant("0"),
            Variant("0"),
            Variant("0"),
            Variant("440301198001010011"),
            Variant(std::int64_t{20150310}),
            Variant(std::int64_t{0}),
            Variant(status),
            Variant(std::int64_t{20150101}),
            Variant(std::int64_t{20350101}),
            Variant(std::int64_t{3})};
}

class AccountForm : public TQZFormBase {
protected:
    void HostAttached() override { LoadSession(); }
};

class AccountRepliesTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        form.InitFromHost(730101, 0, 0, frame.get());
    }
    // The last request sent, decoded.
    protocol::PacketView lastRequest() {
        sent = script->requests();
        protocol::PacketView view;
        EXPECT_FALSE(sent.empty());
        if (!sent.empty()) {
            EXPECT_EQ(view.decode(sent.back()), protocol::DecodeStatus::Ok);
        }
        return view;
    }

    AccountForm form;
    std::vector<std::string> sent;
};

TEST_F(AccountRepliesTest, ConfigurationTakesTheFirstRowAndNoRowIsSilent) {
    ScriptedDialogs::Installed dialogs;
    TSysConfigList config(form);
    script->answer(records({{"int_config", FieldType::Integer}},
                           {{Variant(std::int64_t{10})}, {Variant(std::int64_t{12})}}),
                   105006);
    EXPECT_EQ(config.GetAccountLength(), 10);
    script->answer(records({{"int_config", FieldType::Integer}}, {}), 105006);
    EXPECT_EQ(config.GetAccountLength(), 0);
    EXPECT_TRUE(dialogs->shown.empty());
    script->answer(serverError("no"), 105006);
    EXPECT_EQ(config.GetAccountLength(), 0);
    EXPECT_EQ(dialogs->shown.size(), 1u);
    // A setting that is no integer is a conversion failure, raised to the caller.
    script->answer(records({{"int_config", FieldType::Text}}, {{Variant("wide")}}), 105006);
    EXPECT_THROW(config.GetAccountLength(), EConvertError);
}

TEST_F(AccountRepliesTest, SuccessWithoutARecordResolvesNothing) {
    ScriptedDialogs::Installed dialogs;
    TFund fund(form);
    script->answer(width(8), 105006);
    script->answer(records(resolution, {{Variant(std::int64_t{80000001}), Variant("0"),
                                         Variant(std::int64_t{9}), Variant("80000001")}}),
                   200086);
    ASSERT_TRUE(fund.ResolveAccount('1', "", std::string(1, '\0'), "80000001", '0'));

    script->answer(width(8), 105006);
    script->answer(records(resolution, {}), 200086);
    EXPECT_FALSE(fund.ResolveAccount('1', "", std::string(1, '\0'), "80000002", '0'));
    EXPECT_EQ(fund.fund_account, 80000001);
    EXPECT_EQ(fund.account_content, "80000001");
    EXPECT_EQ(CommonInfo().clientBranchNo, 9);
    EXPECT_EQ(form.currentClientBranchNo, 9);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(AccountRepliesTest, ResolutionKeepsEighteenCharactersAndTheFirstOfTheType) {
    TFund fund(form);
    script->answer(width(0), 105006);
    script->answer(
        records(resolution, {{Variant(std::int64_t{80000001}), Variant(""),
                              Variant(std::int64_t{8}), Variant("1234567890123456789")}}),
        200086);
    ASSERT_TRUE(fund.ResolveAccount('6', "", std::string(1, '\0'), "100001", '0'));
    EXPECT_EQ(fund.account_content, "123456789012345678");
    EXPECT_EQ(fund.account_type, '\0');
    // Way "6" sends account_type "0" and the entry as typed.
    const protocol::PacketView request = lastRequest();
    EXPECT_EQ(request.text(0, static_cast<std::size_t>(request.indexOf("account_type"))), "0");
    EXPECT_EQ(request.text(0, static_cast<std::size_t>(request.indexOf("account_content"))),
              "100001");
}

TEST_F(AccountRepliesTest, AccountContentEndsAtItsFirstNulThenKeepsEighteenCharacters) {
    TFund fund(form);
    // A fixed text buffer: what follows the NUL is not part of the value.
    script->answer(width(0), 105006);
    script->answer(
        records(resolution, {{Variant(std::int64_t{80000001}), Variant("1"),
                              Variant(std::int64_t{8}), Variant(std::string("12\0 34", 6))}}),
        200086);
    ASSERT_TRUE(fund.ResolveAccount('6', "", std::string(1, '\0'), "100001", '0'));
    EXPECT_EQ(fund.account_content, "12");
    // Cut at the NUL first, then to the capacity.
    script->answer(width(0), 105006);
    script->answer(records(resolution, {{Variant(std::int64_t{80000001}), Variant("1"),
                                         Variant(std::int64_t{8}),
                                         Variant(std::string("1234567890123456789\0x", 21))}}),
                   200086);
    ASSERT_TRUE(fund.ResolveAccount('6', "", std::string(1, '\0'), "100001", '0'));
    EXPECT_EQ(fund.account_content, "123456789012345678");
}

TEST_F(AccountRepliesTest, ServerErrorOrBadReplyValuesOfTheResolution) {
    ScriptedDialogs::Installed dialogs;
    TFund fund(form);
    script->answer(width(8), 105006);
    script->answer(serverError("账户不存在"), 200086);
    EXPECT_FALSE(fund.ResolveAccount('1', "", std::string(1, '\0'), "1", '0'));
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, ReplyErrorText("2001", "1", "账户不存在"));

    // A fund account that is no integer is raised; nothing was stored before it.
    script->answer(width(8), 105006);
    script->answer(records(resolution, {{Variant(std::int64_t{0}), Variant("0"),
                                         Variant(std::int64_t{8}), Variant("x")}}),
                   200086);
    ASSERT_TRUE(fund.ResolveAccount('1', "", std::string(1, '\0'), "0", '0'));
    script->answer(width(8), 105006);
    script->answer(records({{"fund_account", FieldType::Text}}, {{Variant("8000000A")}}), 200086);
    EXPECT_THROW(fund.ResolveAccount('1', "", std::string(1, '\0'), "1", '0'), EConvertError);
    EXPECT_EQ(fund.account_content, "x");
}

TEST_F(AccountRepliesTest, FundAccountRecordNoRecordAndTheLastRecordWins) {
    ScriptedDialogs::Installed dialogs;
    TFund fund(form);
    script->answer(records(accountRecord, {accountRow("100001", "20200101", "1"),
                                           accountRow("100002", "2020x", "")}),
                   200076);
    ASSERT_TRUE(fund.LoadAccountInfo(80000001));
    const TFundAccountInfo& a = fund.FundAccountInfo;
    EXPECT_EQ(a.client_id, "100002");
    EXPECT_EQ(a.organ_audit_date, 29991231);
    EXPECT_EQ(a.main_flag, '\0');
    EXPECT_EQ(a.fund_card, "6200001");
    EXPECT_EQ(a.product_flag, '1');
    EXPECT_DOUBLE_EQ(a.discount_rate, 0.75);

    script->answer(records(accountRecord, {}), 200076);
    EXPECT_FALSE(fund.LoadAccountInfo(80000001));
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Information);
    EXPECT_EQ(dialogs->shown[0].buttons, MessageDialogs::Buttons::Ok);
    EXPECT_EQ(dialogs->shown[0].text, "客户不存在");
    EXPECT_EQ(a.client_id, "100002");

    // An out-of-range audit date is no valid integer either.
    script->answer(records(accountRecord, {accountRow("100003", "99999999999", "1")}), 200076);
    ASSERT_TRUE(fund.LoadAccountInfo(80000001));
    EXPECT_EQ(a.organ_audit_date, 29991231);
}

TEST_F(AccountRepliesTest, SubAccountLinesAreTheAccountNumbersAsTheyCome) {
    TFund fund(form);
    TQZIDEdit edit;
    script->answer(records({{"fund_account", FieldType::Integer}, {"client_name", FieldType::Text}},
                           {{Variant(std::int64_t{80000003}), Variant("甲")},
                            {Variant(std::int64_t{80000001}), Variant("乙")},
                            {Variant(std::int64_t{80000003}), Variant("丙")}}),
                   200105);
    ASSERT_TRUE(fund.LoadSubAccounts(edit, "100001"));
    QStringList offered;
    for (int i = 0; i < edit.subAccountList()->count(); ++i)
        offered << edit.subAccountList()->item(i)->text();
    EXPECT_EQ(offered, QStringList({"80000003", "80000001", "80000003"}));
}

TEST_F(AccountRepliesTest, ClientInformationLastRecordTextsCutAtNul) {
    ScriptedDialogs::Installed dialogs;
    TClientInfo client(form);
    script->answer(records(clientRecord, {clientRow("100001", "张三", "0"),
                                          clientRow(std::string("100002\0x", 8),
                                                    std::string("abc\0def", 7), "")}),
                   150010);
    ASSERT_TRUE(client.LoadClientInfo(80000001, "", '0'));
    EXPECT_EQ(client.client_id, "100002");
    EXPECT_EQ(client.client_name, "abc");
    EXPECT_EQ(client.client_status, '\0');
    EXPECT_EQ(client.corp_client_group, 2);
    EXPECT_EQ(client.client_sex, '1');
    EXPECT_EQ(client.id_begindate, 20150101);

    // No record: false, silent, the fields as they were.
    script->answer(records(clientRecord, {}), 150010);
    EXPECT_FALSE(client.LoadClientInfo(80000001, "", '0'));
    script->answer(serverError("x"), 150010);
    EXPECT_FALSE(client.LoadClientInfo(80000001, "", '2'));
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_EQ(client.client_name, "abc");

    // A branch that is no integer is raised; the fields read before it keep their values.
    auto bad = clientRow("100003", "王五", "0");
    std::vector<Column> textBranch = clientRecord;
    textBranch[1].type = FieldType::Text;
    bad[1] = Variant("nine");
    script->answer(records(textBranch, {bad}), 150010);
    EXPECT_THROW(client.LoadClientInfo(80000001, "", '0'), EConvertError);
    EXPECT_EQ(client.client_id, "100003");
    EXPECT_EQ(client.client_name, "abc");
}

TEST(TDeputyList, DeletingAndClearingFreeEachBlockOnceExtractingHandsItOver) {
    // Run under the address sanitizer, a second free or a leak fails this test.
    const auto block = [](const char* text) {
        void* memory = std::malloc(16);
        std::strcpy(static_cast<char*>(memory), text);
        return TDeputyList::Block(memory);
    };
    TDeputyList list;
    list.Add(block("a"));
    list.Add(block("b"));
    list.Add(TDeputyList::Block());
    list.Add(block("c"));
    void* b = list.Items(1);
    TDeputyList::Block taken = list.Extract(b);
    ASSERT_EQ(taken.get(), b);
    EXPECT_STREQ(static_cast<const char*>(taken.get()), "b");
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Extract(b), nullptr); // no longer the list's
    list.Delete(0);
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_STREQ(static_cast<const char*>(list.Items(1)), "c");
    EXPECT_THROW(list.Delete(2), std::out_of_range);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    list.Add(block("d")); // freed with the list
}

} // namespace
