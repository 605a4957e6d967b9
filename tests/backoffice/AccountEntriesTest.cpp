// Account entries as the counter's forms send them, beyond the cases every way has.

#include "BackOfficeFixture.h"

namespace {

class AccountEntriesTest : public BackOfficeTest {
protected:
    Reply resolve(const std::string& way, const std::string& entry, const std::string& bank) {
        Fields f{{"input_content", way}, {"bank_no", bank}, {"check_type", std::string("0")}};
        if (way != "4")
            f.push_back({"account_type", std::string("0")});
        f.push_back({"account_content", entry});
        f.push_back({"branch_no", std::int64_t{8}});
        return call(200086, f);
    }
};

} // namespace

TEST_F(AccountEntriesTest, BankCardWithoutABankIsFoundByItsNumberAloneWhenOneBankHasIt) {
    // The forms send a bank number of one NUL character.
    EXPECT_EQ(resolve("4", "6217000055556666", std::string(1, '\0')).integer("fund_account"),
              80000011);
    EXPECT_EQ(resolve("4", " 6222000011112222 ", "").integer("fund_account"), 80000001);
    EXPECT_EQ(resolve("4", "6299999999999999", std::string(1, '\0')).code(),
              backoffice::errors::unknownAccount);

    office->database().exec("INSERT INTO bank_card VALUES ('7', '6217000055556666', 80000012)");
    Reply twoBanks = resolve("4", "6217000055556666", std::string(1, '\0'));
    EXPECT_EQ(twoBanks.code(), backoffice::errors::badRequest);
    EXPECT_EQ(twoBanks.info(), "银行卡号[6217000055556666]对应多家银行，请指定银行");
    EXPECT_EQ(resolve("4", "6217000055556666", "7").integer("fund_account"), 80000012);
}

TEST_F(AccountEntriesTest, ClientNumberWithoutFundAccountIsToldApartFromAnUnknownClient) {
    Reply none = resolve("6", "100010", "0");
    EXPECT_EQ(none.code(), backoffice::errors::unknownAccount);
    EXPECT_EQ(none.info(), "客户[100010]无对应资产账户");
    EXPECT_EQ(resolve("6", "199999", "0").info(), "账户[199999]不存在");

    Reply accounts = call(200105, {{"branch_no", std::int64_t{0}},
                                   {"audit_action", std::string("0")},
                                   {"action_in", std::int64_t{0}},
                                   {"client_id", std::string("100010")}});
    EXPECT_EQ(accounts.code(), 0);
    EXPECT_EQ(accounts.rows(), 0u);
}
