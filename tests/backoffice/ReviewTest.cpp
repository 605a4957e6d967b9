#include "BackOfficeFixture.h"

#include <atomic>
#include <thread>

namespace errors = backoffice::errors;

namespace {

Fields openLowRate() {
    return {{"branch_no", std::int64_t{8}},
            {"client_id", std::string("100001")},
            {"fund_account", std::int64_t{80000001}},
            {"discount_rate", std::string("0.45")}};
}

Fields review(std::int64_t processId, const std::string& reviewer, const std::string& password) {
    return {{"process_id", processId},           {"audit_branch_no", std::int64_t{0}},
            {"audit_operator_no", reviewer},     {"auditop_password", password},
            {"audit_level", std::int64_t{1}},    {"occur_date", std::int64_t{0}},
            {"task_serial_no", std::int64_t{0}}, {"audit_remark", std::string(1, '\0')}};
}

Fields resent(Fields fields) {
    fields.push_back({"audit_action", std::string("2")});
    return fields;
}

} // namespace

class ReviewTest : public BackOfficeTest {
protected:
    // Asks for the low-rate open and returns the process of the review demand.
    std::int64_t demand() {
        Reply r = call(730001, openLowRate());
        EXPECT_EQ(r.code(), errors::reviewRequired);
        EXPECT_EQ(r.errorNo(), errors::reviewRequired);
        const std::string info = r.info();
        EXPECT_EQ(partOf(info, 1), "该业务需要临柜复核");
        EXPECT_EQ(partOf(info, 3), "1002"); // a reviewer of the same branch
        return std::stoll(partOf(info, 2));
    }
    std::int64_t vipRows() {
        return count("SELECT count(*) FROM vip_client WHERE fund_account = 80000001");
    }
};

TEST_F(ReviewTest, GrantedReviewLetsTheResentRequestThroughOnce) {
    const std::int64_t process = demand();
    EXPECT_EQ(vipRows(), 0);
    Reply granted = call(360042, review(process, "1002", "pass1002"), "1001", "pass1001");
    ASSERT_EQ(granted.code(), 0);
    EXPECT_EQ(call(730001, resent(openLowRate())).code(), 0);
    EXPECT_EQ(vipRows(), 1);
    EXPECT_EQ(
        count("SELECT status FROM review_process WHERE process_id = " + std::to_string(process)),
        2);
    // The approval is used up: a second resend cannot ride on it.
    office->database().exec("DELETE FROM vip_client WHERE fund_account = 80000001");
    EXPECT_EQ(call(730001, resent(openLowRate())).code(), errors::notReviewed);
}

TEST_F(ReviewTest, ResendWithoutAnApprovedReviewIsRefused) {
    EXPECT_EQ(call(730001, resent(openLowRate())).code(), errors::notReviewed);
    const std::int64_t process = demand();
    // Waiting for a reviewer is not approved either.
    EXPECT_EQ(call(730001, resent(openLowRate())).code(), errors::notReviewed);
    // Another operator cannot use 1001's approval.
    call(360042, review(process, "1002", "pass1002"), "1001", "pass1001");
    EXPECT_EQ(call(730001, resent(openLowRate()), "1004").code(), errors::notReviewed);
    EXPECT_EQ(vipRows(), 0);
}

TEST_F(ReviewTest, TheReviewerMustBeAnotherOperatorWithTheRightAndPassword) {
    const std::int64_t process = demand();
    EXPECT_EQ(call(360042, review(process, "1001", "pass1001"), "1001", "pass1001").code(),
              errors::sameReviewer);
    EXPECT_EQ(call(360042, review(process, "1004", "pass1004"), "1001", "pass1001").code(),
              errors::noReviewRight);
    EXPECT_EQ(call(360042, review(process, "1002", "wrong"), "1001", "pass1001").code(),
              errors::reviewerPassword);
    EXPECT_EQ(call(360042, review(process, "1002", "pass1002"), "1001", "wrong").code(),
              errors::wrongPassword);
    EXPECT_EQ(call(360042, review(process + 100, "1002", "pass1002"), "1001", "pass1001").code(),
              errors::noSuchProcess);
    // None of that approved anything; the right reviewer still can, once.
    EXPECT_EQ(call(360042, review(process, "1003", "pass1003"), "1001", "pass1001").code(), 0);
    EXPECT_EQ(call(360042, review(process, "1002", "pass1002"), "1001", "pass1001").code(),
              errors::noSuchProcess);
}

TEST_F(ReviewTest, RateAtTheThresholdNeedsNoReview) {
    Fields fields = openLowRate();
    fields[3].second = std::string("0.50");
    EXPECT_EQ(call(730001, fields).code(), 0);
}

TEST_F(ReviewTest, TheResendMustCarryWhatWasReviewed) {
    const std::int64_t process = demand();
    ASSERT_EQ(call(360042, review(process, "1002", "pass1002")).code(), 0);
    // The approved rate was 0.45 at branch 8: 0.01, or another branch, is not what the
    // reviewer saw.
    Fields lower = openLowRate();
    lower[3].second = std::string("0.01");
    EXPECT_EQ(call(730001, resent(lower)).code(), errors::notReviewed);
    Fields otherBranch = openLowRate();
    otherBranch[0].second = std::int64_t{9};
    EXPECT_EQ(call(730001, resent(otherBranch)).code(), errors::notReviewed);
    EXPECT_EQ(vipRows(), 0);
    // Those refusals did not use the approval up.
    ASSERT_EQ(call(730001, resent(openLowRate())).code(), 0);
    EXPECT_EQ(count("SELECT round(discount_rate * 100) FROM vip_client "
                    "WHERE fund_account = 80000001"),
              45);
}

TEST_F(ReviewTest, AnApprovalExpires) {
    const std::int64_t process = demand();
    ASSERT_EQ(call(360042, review(process, "1002", "pass1002")).code(), 0);
    const std::int64_t age = office->office.options().reviewMaxAge.count();
    office->database().exec("UPDATE review_process SET approved_at = approved_at - " +
                            std::to_string(age + 1));
    Reply late = call(730001, resent(openLowRate()));
    EXPECT_EQ(late.code(), errors::reviewExpired);
    EXPECT_EQ(late.info(), "复核批准已过期，请重新复核");
    EXPECT_EQ(vipRows(), 0);
    // A new demand and a new review put it through.
    const std::int64_t again = demand();
    ASSERT_EQ(call(360042, review(again, "1002", "pass1002")).code(), 0);
    EXPECT_EQ(call(730001, resent(openLowRate())).code(), 0);
    EXPECT_EQ(vipRows(), 1);
}

TEST_F(ReviewTest, TheRateRuleHoldsForEveryRequestThatSetsARate) {
    Fields atThreshold = openLowRate();
    atThreshold[3].second = std::string("0.50");
    ASSERT_EQ(call(730001, atThreshold).code(), 0);
    // Lowering the rate afterwards through the modify request needs the review just the same.
    const Fields lower{{"branch_no", std::int64_t{8}},
                       {"fund_account", std::int64_t{80000001}},
                       {"discount_rate", std::string("0.01")}};
    Reply demanded = call(730003, lower);
    ASSERT_EQ(demanded.code(), errors::reviewRequired);
    const std::string rate = "SELECT round(discount_rate * 100) FROM vip_client "
                             "WHERE fund_account = 80000001";
    EXPECT_EQ(count(rate), 50);
    EXPECT_EQ(call(730003, resent(lower)).code(), errors::notReviewed);
    const std::int64_t process = std::stoll(partOf(demanded.info(), 2));
    ASSERT_EQ(call(360042, review(process, "1002", "pass1002")).code(), 0);
    EXPECT_EQ(call(730003, resent(lower)).code(), 0);
    EXPECT_EQ(count(rate), 1);
}

TEST_F(ReviewTest, NoOneActsForAnotherOperator) {
    // The reviewer, logged in on his own counter, sends the demand as 1001: refused, and
    // no review process is made that he could approve himself.
    backoffice::Session reviewerCounter;
    ASSERT_EQ(Reply(office->office.handle(reviewerCounter, loginPacket("1002", "pass1002"))).code(),
              0);
    Fields asOther = header(730001, "1001");
    const Fields open = openLowRate();
    asOther.insert(asOther.end(), open.begin(), open.end());
    Reply refused(office->office.handle(reviewerCounter, buildPacket(730001, asOther)));
    EXPECT_EQ(refused.code(), errors::notSessionOperator);
    EXPECT_EQ(refused.info(), "操作员[1001]不是本连接登录的操作员");
    // Nor without any login at all.
    backoffice::Session nobody;
    EXPECT_EQ(Reply(office->office.handle(nobody, buildPacket(730001, asOther))).code(),
              errors::notLoggedIn);
    EXPECT_EQ(count("SELECT count(*) FROM review_process"), 0);

    // 1001's real demand cannot be approved from the reviewer's counter either.
    const std::int64_t process = demand();
    Fields approval = header(360042, "1001");
    const Fields r = review(process, "1002", "pass1002");
    approval.insert(approval.end(), r.begin(), r.end());
    EXPECT_EQ(Reply(office->office.handle(reviewerCounter, buildPacket(360042, approval))).code(),
              errors::notSessionOperator);
    EXPECT_EQ(call(730001, resent(openLowRate())).code(), errors::notReviewed);
    EXPECT_EQ(vipRows(), 0);
}

TEST_F(ReviewTest, ARequesterGuessingAReviewersPasswordIsSlowedAndLocksNobody) {
    const int free = office->office.options().throttle.freeFailures;
    const int perProcess = office->office.options().wrongReviewsPerProcess;
    ASSERT_EQ(free, perProcess); // the steps below take the defaults
    // A few wrong reviewer passwords void the process: it has to be asked for again.
    const std::int64_t first = demand();
    for (int i = 1; i < perProcess; ++i)
        EXPECT_EQ(call(360042, review(first, "1002", "wrong")).code(), errors::reviewerPassword);
    Reply voided = call(360042, review(first, "1002", "wrong"));
    EXPECT_EQ(voided.code(), errors::reviewerPassword);
    EXPECT_EQ(voided.info(), "复核柜员密码错误次数过多，复核流程[" + std::to_string(first) +
                                 "]已作废，请重新提交业务");
    Reply gone = call(360042, review(first, "1002", "pass1002"));
    EXPECT_EQ(gone.code(), errors::noSuchProcess);
    EXPECT_EQ(gone.info(), "复核流程[" + std::to_string(first) + "]已作废，请重新提交业务");

    // A new demand does not start the count at the reviewer afresh: past the free ones the
    // counter waits, and even the right password is not checked from there meanwhile.
    const std::int64_t process = demand();
    EXPECT_EQ(call(360042, review(process, "1002", "wrong")).code(), errors::reviewerPassword);
    Reply slowed = call(360042, review(process, "1002", "wrong"));
    EXPECT_EQ(slowed.code(), errors::passwordThrottled);
    EXPECT_EQ(slowed.info(), "密码错误次数过多，请1秒后再试");
    EXPECT_EQ(call(360042, review(process, "1002", "pass1002")).code(), errors::passwordThrottled);
    // The reviewer is not locked: he logs in at his own counter.
    backoffice::Session reviewerCounter;
    reviewerCounter.source = "10.0.0.2";
    EXPECT_EQ(Reply(office->office.handle(reviewerCounter, loginPacket("1002", "pass1002"))).code(),
              0);
    // And once the wait is over the requester's counter is heard again.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(call(360042, review(process, "1002", "pass1002")).code(), 0);
}

TEST_F(ReviewTest, TwoCountersResendingOneApprovalAtOnceUseItOnce) {
    Fields atThreshold = openLowRate();
    atThreshold[3].second = std::string("0.50");
    ASSERT_EQ(call(730001, atThreshold).code(), 0);
    // Operator 1001 logged in on two counters, both resending the same approved change.
    backoffice::Session first;
    backoffice::Session second;
    for (backoffice::Session* s : {&first, &second})
        ASSERT_EQ(Reply(office->office.handle(*s, loginPacket("1001", "pass1001"))).code(), 0);
    for (const char* rate : {"0.30", "0.20", "0.10"}) {
        const Fields lower{{"branch_no", std::int64_t{8}},
                           {"fund_account", std::int64_t{80000001}},
                           {"discount_rate", std::string(rate)}};
        Reply demanded = call(730003, lower);
        ASSERT_EQ(demanded.code(), errors::reviewRequired);
        const std::int64_t process = std::stoll(partOf(demanded.info(), 2));
        ASSERT_EQ(call(360042, review(process, "1002", "pass1002")).code(), 0);
        Fields resend = header(730003);
        const Fields again = resent(lower);
        resend.insert(resend.end(), again.begin(), again.end());
        const std::string packet = buildPacket(730003, resend);
        std::atomic<bool> go{false};
        std::int32_t codes[2] = {-1, -1};
        std::vector<std::thread> counters;
        for (int i = 0; i < 2; ++i) {
            counters.emplace_back([&, i] {
                while (!go)
                    std::this_thread::yield();
                codes[i] = Reply(office->office.handle(i == 0 ? first : second, packet)).code();
            });
        }
        go = true;
        for (std::thread& t : counters)
            t.join();
        EXPECT_EQ(std::min(codes[0], codes[1]), 0) << rate;
        EXPECT_EQ(std::max(codes[0], codes[1]), errors::notReviewed) << rate;
        EXPECT_EQ(count("SELECT status FROM review_process WHERE process_id = " +
                        std::to_string(process)),
                  2);
    }
}

// A database of a version whose review statuses the table did not check: opening it
// builds the table anew with the check, keeping every process, its indexes and where the
// process numbers stood.
TEST_F(ReviewTest, AnEarlierDatabaseGetsItsReviewStatusesChecked) {
    office.reset();
    {
        backoffice::Database old(path);
        old.exec("DROP TABLE review_process;"
                 "CREATE TABLE review_process (process_id INTEGER PRIMARY KEY AUTOINCREMENT, "
                 "function_id INTEGER NOT NULL, operator_no TEXT NOT NULL, fund_account INTEGER "
                 "NOT NULL, default_reviewer TEXT NOT NULL, reviewer TEXT NOT NULL DEFAULT '', "
                 "status TEXT NOT NULL DEFAULT '0', created_at TEXT NOT NULL DEFAULT "
                 "(datetime('now')), request_fields TEXT NOT NULL DEFAULT '', approved_at "
                 "INTEGER NOT NULL DEFAULT 0, wrong_reviews INTEGER NOT NULL DEFAULT 0);"
                 "CREATE INDEX review_process_by_request ON review_process(operator_no, "
                 "function_id, status);"
                 "INSERT INTO review_process (process_id, function_id, operator_no, "
                 "fund_account, default_reviewer, status) VALUES "
                 "(3, 730001, '1001', 80000001, '1002', '2'), "
                 "(7, 730002, '1001', 80000003, '1002', '4');"
                 "UPDATE sqlite_sequence SET seq = 40 WHERE name = 'review_process'");
    }
    office = std::make_unique<CounterOffice>(path);
    EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name = 'review_process' AND "
                    "sql LIKE '%CHECK%'"),
              1);
    EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name = 'review_process_unchecked'"),
              0);
    EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND "
                    "tbl_name = 'review_process'"),
              3);
    EXPECT_EQ(count("SELECT count(*) FROM review_process WHERE (process_id = 3 AND status = "
                    "'2') OR (process_id = 7 AND status = '4')"),
              2);
    EXPECT_THROW(office->database().exec("UPDATE review_process SET status = '6' WHERE "
                                         "process_id = 3"),
                 backoffice::DatabaseError);
    EXPECT_GT(demand(), 40);
    // Opened again, it is left as it is.
    office.reset();
    office = std::make_unique<CounterOffice>(path);
    EXPECT_EQ(count("SELECT count(*) FROM review_process"), 3);
}
