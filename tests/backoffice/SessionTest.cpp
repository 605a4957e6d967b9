#include "BackOfficeFixture.h"

#include <chrono>

namespace errors = backoffice::errors;

namespace {

Fields configOf(std::int64_t branchNo) {
    return {{"branch_no", branchNo}, {"config_no", std::int64_t{1129}}};
}

} // namespace

TEST_F(BackOfficeTest, BeforeALoginOnlyTheLoginIsAnswered) {
    backoffice::Session counter;
    Reply refused(office->office.handle(counter, configRequest()));
    EXPECT_EQ(refused.code(), errors::notLoggedIn);
    EXPECT_EQ(refused.info(), "请先登录");
    EXPECT_EQ(Reply(office->office.handle(counter, loginPacket("1001", "wrong"))).code(),
              errors::wrongPassword);
    EXPECT_EQ(Reply(office->office.handle(counter, configRequest())).code(), errors::notLoggedIn);
    ASSERT_EQ(Reply(office->office.handle(counter, loginPacket("1001", "pass1001"))).code(), 0);
    EXPECT_EQ(Reply(office->office.handle(counter, configRequest())).code(), 0);
    // A failed login ends the session it was sent on.
    office->office.handle(counter, loginPacket("1002", "wrong"));
    EXPECT_EQ(Reply(office->office.handle(counter, configRequest())).code(), errors::notLoggedIn);
}

TEST_F(BackOfficeTest, ASessionSpeaksForItsOperatorAndBranchOnly) {
    EXPECT_EQ(office->handle(configRequest()).empty(), false);
    EXPECT_EQ(Reply(office->handle(configRequest())).code(), 0);
    EXPECT_EQ(Reply(office->handle(configRequest("1004"))).code(), errors::notSessionOperator);
    Fields otherBranch = header(105006);
    otherBranch[0].second = std::int64_t{9};
    const Fields extra = configOf(8);
    otherBranch.insert(otherBranch.end(), extra.begin(), extra.end());
    Reply refused(office->handle(buildPacket(105006, otherBranch)));
    EXPECT_EQ(refused.code(), errors::notSessionOperator);
    EXPECT_EQ(refused.info(), "营业部[9]不是登录操作员的营业部");
}

TEST_F(BackOfficeTest, WrongPasswordsSlowTheirSourceNotTheOperator) {
    backoffice::OfficeOptions o;
    // Far longer than the steps take however busy the machine; the test moves the guesses
    // back in time instead of waiting.
    o.throttle.firstDelay = std::chrono::minutes(2);
    auto office = std::make_unique<backoffice::BackOffice>(path, o);
    backoffice::Session stranger;
    stranger.source = "10.0.0.66";
    const auto login = [&](backoffice::Session& s, const char* password) {
        return Reply(office->handle(s, loginPacket("1004", password)));
    };
    for (int i = 0; i <= o.throttle.freeFailures; ++i)
        EXPECT_EQ(login(stranger, "wrong").code(), errors::wrongPassword);
    // Past the free ones the source waits, and is told why; even the right password is not
    // checked from there meanwhile.
    Reply slowed = login(stranger, "wrong");
    EXPECT_EQ(slowed.code(), errors::passwordThrottled);
    EXPECT_EQ(slowed.info().rfind("密码错误次数过多，请", 0), 0u) << slowed.info();
    EXPECT_NE(slowed.info().find("分钟后再试"), std::string::npos) << slowed.info();
    EXPECT_EQ(login(stranger, "pass1004").code(), errors::passwordThrottled);

    // The operator himself, at his own counter, is not held back; nor after a restart,
    // which keeps the stranger's wait.
    backoffice::Session own;
    own.source = "10.0.0.4";
    EXPECT_EQ(login(own, "pass1004").code(), 0);
    office = std::make_unique<backoffice::BackOffice>(path, o);
    EXPECT_EQ(login(stranger, "pass1004").code(), errors::passwordThrottled);
    backoffice::Session ownAgain;
    ownAgain.source = "10.0.0.4";
    EXPECT_EQ(login(ownAgain, "pass1004").code(), 0);
    // Once the wait is over the source is heard again, and a right password clears its count
    // at this operator; the guesses still count against the operator's bound.
    BackOfficeTest::office->database()
        .prepare("UPDATE password_guess SET at_ms = at_ms - ? WHERE source = '10.0.0.66'")
        .bind(1, std::int64_t{o.throttle.firstDelay.count()})
        .run();
    EXPECT_EQ(login(stranger, "pass1004").code(), 0);
    EXPECT_EQ(count("SELECT count(*) FROM password_guess WHERE source = '10.0.0.66' AND "
                    "cleared = 0"),
              0);
    EXPECT_EQ(count("SELECT count(*) FROM password_guess WHERE operator_no = '1004'"),
              o.throttle.freeFailures + 1);
}

TEST_F(BackOfficeTest, AnErrorReplyAlwaysFitsAndIsNeverEmpty) {
    // A client number of nearly the largest value a request may carry is echoed in the error.
    const std::string huge(backoffice::RequestLimits::maxFieldBytes - 16, '9');
    Reply r = call(730001, {{"branch_no", std::int64_t{8}},
                            {"client_id", huge},
                            {"fund_account", std::int64_t{80000001}},
                            {"discount_rate", std::string("0.80")}});
    EXPECT_EQ(r.code(), errors::unknownClient);
    EXPECT_LT(r.info().size(), 1100u);
    EXPECT_EQ(r.info().rfind("客户[9999", 0), 0u);
    EXPECT_EQ(r.info().substr(r.info().size() - 3), "...");
    EXPECT_EQ(count("SELECT count(*) FROM vip_client WHERE fund_account = 80000001"), 0);
}

TEST_F(BackOfficeTest, BranchNumbersAreCheckedAgainstTheBranches) {
    const auto list = [&](std::int64_t branchNo, const std::string& allowed) {
        return call(730004, {{"branch_no", branchNo},
                             {"en_branch_no", allowed},
                             {"fund_account", std::int64_t{0}},
                             {"position_str", std::string("0")},
                             {"request_num", std::int64_t{5}}});
    };
    EXPECT_EQ(list(0, "8,9").code(), 0);
    EXPECT_EQ(list(8, "").code(), 0);
    Reply unknown = list(0, "8, 42");
    EXPECT_EQ(unknown.code(), errors::unknownBranch);
    EXPECT_EQ(unknown.info(), "营业部[42]不存在");
    EXPECT_EQ(list(42, "").code(), errors::unknownBranch);
}
