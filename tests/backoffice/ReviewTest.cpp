#include "BackOfficeFixture.h"

#include "Tools.h"

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
        EXPECT_EQ(GetField(info, ',', 1), "该业务需要临柜复核");
        EXPECT_EQ(GetField(info, ',', 3), "1002"); // a reviewer of the same branch
        return std::stoll(GetField(info, ',', 2));
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
