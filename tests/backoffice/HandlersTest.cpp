#include "BackOfficeFixture.h"

using backoffice::errors::badRate;
using backoffice::errors::badRequest;

TEST_F(BackOfficeTest, SysConfigGivesTheAccountWidthOrNoRow) {
    Reply width = call(105006, {{"branch_no", std::int64_t{8}}, {"config_no", std::int64_t{1129}}},
                       "1001", "pass1001");
    ASSERT_EQ(width.code(), 0);
    ASSERT_EQ(width.rows(), 1u);
    EXPECT_EQ(width.integer("int_config"), 8);

    Reply none = call(105006, {{"branch_no", std::int64_t{77}}, {"config_no", std::int64_t{1129}}},
                      "1001", "pass1001");
    EXPECT_EQ(none.code(), 0);
    EXPECT_EQ(none.rows(), 0u);
}

TEST_F(BackOfficeTest, BadInputGetsAnErrorReplyNeverASuccess) {
    // A missing field, a wrong-typed field, a wrong password, an unknown operator.
    Reply missing = call(105006, {{"branch_no", std::int64_t{8}}}, "1001", "pass1001");
    EXPECT_EQ(missing.code(), badRequest);
    EXPECT_EQ(missing.info(), "缺少请求字段[config_no]");
    EXPECT_EQ(missing.integer("error_svrno"), 1);

    Reply wrongType =
        call(105006, {{"branch_no", std::string("8")}, {"config_no", std::int64_t{1}}}, "1001",
             "pass1001");
    EXPECT_EQ(wrongType.code(), badRequest);
    EXPECT_EQ(wrongType.info(), "请求字段[branch_no]应为整数");

    Reply password =
        call(105006, {{"branch_no", std::int64_t{8}}, {"config_no", std::int64_t{1129}}}, "1001",
             "wrong");
    EXPECT_EQ(password.code(), backoffice::errors::wrongPassword);

    Reply stranger = call(105006, {}, "9999", "x");
    EXPECT_EQ(stranger.code(), backoffice::errors::unknownOperator);

    Reply unknown = call(999999, {});
    EXPECT_EQ(unknown.code(), backoffice::errors::unknownFunction);
    EXPECT_EQ(unknown.info(), "功能号[999999]不存在");

    Fields mismatched = header(730000);
    mismatched[6].second = std::int64_t{730001};
    EXPECT_EQ(Reply(office->handle(buildPacket(730000, mismatched))).code(), badRequest);

    Reply garbage(office->handle("not a packet at all"));
    EXPECT_EQ(garbage.code(), badRequest);
    EXPECT_EQ(Reply(office->handle("")).code(), badRequest);
}

TEST_F(BackOfficeTest, ResolvesEveryInputWay) {
    // As the module sends it; for way "4" the packer keeps one bank_no, the bank number.
    const auto resolve = [&](const std::string& way, const std::string& exchange,
                             const std::string& entry, const std::string& bank = "0") {
        Fields f{{"input_content", way}, {"bank_no", bank}, {"check_type", std::string("0")}};
        if (way != "4")
            f.push_back({"account_type", exchange});
        f.push_back({"account_content", entry});
        f.push_back({"branch_no", std::int64_t{8}});
        return call(200086, f);
    };
    EXPECT_EQ(resolve("1", "", "80000002").integer("fund_account"), 80000002);
    EXPECT_EQ(resolve("2", "", "080000002").integer("fund_account"), 80000002);
    EXPECT_EQ(resolve("3", "0", "6200001").integer("fund_account"), 80000001);
    EXPECT_EQ(resolve("4", "", "6222000011112222", "1").integer("fund_account"), 80000001);
    EXPECT_EQ(resolve("4", "", "6222000011112222", "2").code(), backoffice::errors::unknownAccount);
    Reply holder = resolve("5", "1", "A000000123");
    EXPECT_EQ(holder.integer("fund_account"), 80000001);
    EXPECT_EQ(holder.text("account_type"), "1");
    EXPECT_EQ(holder.integer("branch_no"), 8);
    EXPECT_EQ(resolve("A", "F3", "F300000003").integer("fund_account"), 80000008);
    EXPECT_EQ(resolve("A", "F3", "F300000003").integer("branch_no"), 10);
    EXPECT_EQ(resolve("6", "0", "100001").integer("fund_account"), 80000001);
    EXPECT_EQ(resolve("6", "0", "100007").integer("fund_account"), 80000008);
    EXPECT_EQ(resolve("1", "", "99999999").code(), backoffice::errors::unknownAccount);
    EXPECT_EQ(resolve("1", "", "abc").code(), backoffice::errors::unknownAccount);
    EXPECT_EQ(resolve("9", "0", "1").code(), badRequest);
}

TEST_F(BackOfficeTest, FundAccountRecordSubAccountsAndClientInfo) {
    Reply record =
        call(200076, {{"client_id", std::string()}, {"fund_account", std::int64_t{80000005}}});
    ASSERT_EQ(record.code(), 0);
    EXPECT_EQ(record.view.fieldCount(), 23u);
    EXPECT_EQ(record.text("client_id"), "100004");
    EXPECT_EQ(record.text("fundacct_status"), "2");
    EXPECT_EQ(record.integer("room_code"), 2);
    EXPECT_EQ(record.text("organ_audit_date"), "x");
    EXPECT_DOUBLE_EQ(record.real("discount_rate"), 1.0);
    EXPECT_EQ(
        call(200076, {{"client_id", std::string()}, {"fund_account", std::int64_t{1}}}).code(),
        backoffice::errors::unknownAccount);

    const Fields subAccounts{{"branch_no", std::int64_t{0}},
                             {"audit_action", std::string("0")},
                             {"action_in", std::int64_t{0}},
                             {"client_id", std::string("100001")}};
    Reply accounts = call(200105, subAccounts, "1001", "pass1001");
    ASSERT_EQ(accounts.rows(), 2u);
    EXPECT_EQ(accounts.integer("fund_account", 0), 80000001);
    EXPECT_EQ(accounts.integer("fund_account", 1), 80000002);
    Fields unknownClient = subAccounts;
    unknownClient[3].second = std::string("555");
    EXPECT_EQ(call(200105, unknownClient, "1001", "pass1001").code(),
              backoffice::errors::unknownClient);

    Reply client = call(150010,
                        {{"audit_action", std::string("0")},
                         {"fund_account", std::int64_t{80000004}},
                         {"client_id", std::string()},
                         {"branch_no", std::int64_t{8}}},
                        "1001", "pass1001");
    ASSERT_EQ(client.code(), 0);
    EXPECT_EQ(client.view.fieldCount(), 18u);
    EXPECT_EQ(client.text("client_name"), "王五");
    EXPECT_EQ(client.text("client_status"), "1");
    EXPECT_EQ(client.text("id_kind"), "1");
}

TEST_F(BackOfficeTest, SyncRequestIsRecorded) {
    Reply ok = call(730000, {{"branch_no", std::int64_t{8}},
                             {"fund_account", std::int64_t{80000001}},
                             {"sync_type", std::int64_t{2}}});
    ASSERT_EQ(ok.code(), 0);
    EXPECT_EQ(count("SELECT count(*) FROM sync_request WHERE sync_type = 2 AND "
                    "fund_account = 80000001 AND operator_no = '1001'"),
              1);
    EXPECT_EQ(call(730000, {{"branch_no", std::int64_t{8}},
                            {"fund_account", std::int64_t{80000001}},
                            {"sync_type", std::int64_t{3}}})
                  .code(),
              badRequest);
    EXPECT_EQ(count("SELECT count(*) FROM sync_request"), 1);
}

TEST_F(BackOfficeTest, VipOpenAddsZAndCloseRemovesIt) {
    const auto open = [&](const std::string& rate, std::int64_t account = 80000001,
                          const std::string& client = "100001") {
        return call(730001, {{"branch_no", std::int64_t{8}},
                             {"client_id", client},
                             {"fund_account", account},
                             {"discount_rate", rate}});
    };
    ASSERT_EQ(open("0.85").code(), 0);
    EXPECT_EQ(count("SELECT count(*) FROM vip_client WHERE fund_account = 80000001 AND "
                    "discount_rate = 0.85"),
              1);
    EXPECT_EQ(count("SELECT instr(en_entrust_way, 'Z') > 0 FROM fund_account "
                    "WHERE fund_account = 80000001"),
              1);
    EXPECT_EQ(open("0.85").code(), backoffice::errors::alreadyVip);

    Reply modify = call(730003, {{"branch_no", std::int64_t{8}},
                                 {"fund_account", std::int64_t{80000001}},
                                 {"discount_rate", std::string("0.7")}});
    EXPECT_EQ(modify.code(), 0);
    EXPECT_EQ(count("SELECT discount_rate * 100 FROM vip_client WHERE fund_account = 80000001"),
              70);

    // Closing always needs a review, so the rule answers with the demand first.
    Reply close =
        call(730002, {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000001}}});
    EXPECT_EQ(close.code(), backoffice::errors::reviewRequired);
    EXPECT_EQ(count("SELECT count(*) FROM vip_client WHERE fund_account = 80000001"), 1);
}

TEST_F(BackOfficeTest, RatesOutsideZeroToOneWithTwoDecimalsAreRefused) {
    for (const char* bad : {"0", "0.00", "1.01", "0.855", "-0.5", "abc", ".5", "1.", "", "1e-1"}) {
        Reply r = call(730001, {{"branch_no", std::int64_t{8}},
                                {"client_id", std::string("100001")},
                                {"fund_account", std::int64_t{80000001}},
                                {"discount_rate", std::string(bad)}});
        EXPECT_EQ(r.code(), badRate) << bad;
    }
    EXPECT_EQ(count("SELECT count(*) FROM vip_client WHERE fund_account = 80000001"), 0);
    for (const char* good : {"1", "1.00", "0.5", "0.50"}) {
        Reply r = call(730003, {{"branch_no", std::int64_t{8}},
                                {"fund_account", std::int64_t{80000003}},
                                {"discount_rate", std::string(good)}});
        EXPECT_EQ(r.code(), 0) << good;
    }
}

TEST_F(BackOfficeTest, VipOpenRefusesAWrongClientOrAnAbnormalAccount) {
    EXPECT_EQ(call(730001, {{"branch_no", std::int64_t{8}},
                            {"client_id", std::string("100002")},
                            {"fund_account", std::int64_t{80000001}},
                            {"discount_rate", std::string("0.9")}})
                  .code(),
              backoffice::errors::unknownClient);
    EXPECT_EQ(call(730001, {{"branch_no", std::int64_t{8}},
                            {"client_id", std::string("100004")},
                            {"fund_account", std::int64_t{80000005}},
                            {"discount_rate", std::string("0.9")}})
                  .code(),
              backoffice::errors::accountNotNormal);
    EXPECT_EQ(call(730003, {{"branch_no", std::int64_t{8}},
                            {"fund_account", std::int64_t{80000001}},
                            {"discount_rate", std::string("0.9")}})
                  .code(),
              backoffice::errors::notVip);
}

TEST_F(BackOfficeTest, VipListPagesByKeyAndFilters) {
    const auto page = [&](const std::string& branches, std::int64_t account, const std::string& pos,
                          std::int64_t num) {
        return call(730004,
                    {{"branch_no", std::int64_t{0}},
                     {"en_branch_no", branches},
                     {"fund_account", account},
                     {"position_str", pos},
                     {"request_num", num}},
                    "1001", "pass1001");
    };
    Reply first = page("", 0, "0", 2);
    ASSERT_EQ(first.rows(), 2u);
    EXPECT_EQ(first.integer("fund_account", 0), 80000003);
    EXPECT_EQ(first.integer("fund_account", 1), 80000006);
    EXPECT_EQ(first.text("client_id", 0), "100002");
    Reply second = page("", 0, "80000006", 2);
    ASSERT_EQ(second.rows(), 2u);
    EXPECT_EQ(second.integer("fund_account", 0), 80000008);
    EXPECT_EQ(second.integer("fund_account", 1), 81000001);
    EXPECT_EQ(page("", 0, "81000050", 100).rows(), 30u); // the last 30 of the 83
    EXPECT_EQ(page("", 0, "81000080", 30).rows(), 0u);

    Reply filtered = page("9, 10", 0, "0", 30);
    ASSERT_EQ(filtered.rows(), 30u);
    EXPECT_EQ(filtered.integer("branch_no", 0), 9);
    for (std::size_t r = 0; r < filtered.rows(); ++r)
        EXPECT_NE(filtered.integer("branch_no", r), 8) << r;
    EXPECT_EQ(page("", 80000006, "0", 30).rows(), 1u);
    EXPECT_EQ(page("8,x", 0, "0", 30).code(), badRequest);
    EXPECT_EQ(page("", 0, "abc", 30).code(), badRequest);

    // The VIP check of the account forms: header, branch_no and fund_account only.
    Reply isVip =
        call(730004, {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000003}}});
    ASSERT_EQ(isVip.rows(), 1u);
    EXPECT_DOUBLE_EQ(isVip.real("discount_rate"), 0.8);
    EXPECT_EQ(
        call(730004, {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000001}}})
            .rows(),
        0u);
}

TEST_F(BackOfficeTest, LoginRequestsOfTheCounter) {
    Reply login = call(100001, {{"password", std::string("pass1001")}});
    ASSERT_EQ(login.code(), 0);
    EXPECT_EQ(login.text("operator_name"), "张敏");
    EXPECT_EQ(login.integer("branch_no"), 8);
    EXPECT_EQ(login.integer("main_branch_no"), 1);
    EXPECT_EQ(call(100001, {{"password", std::string("nope")}}).code(),
              backoffice::errors::wrongPassword);
    EXPECT_EQ(call(100002, {{"password", std::string("pass1001")}}).rows(), 4u);
    EXPECT_EQ(call(100003, {{"password", std::string("pass1001")}}).rows(), 5u);
    Reply dictionary = call(100004, {{"password", std::string("pass1001")}});
    EXPECT_GT(dictionary.rows(), 10u);
}
