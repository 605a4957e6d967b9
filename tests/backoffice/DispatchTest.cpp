// Dispatch runs the session, credential and review checks before every handler, and no
// fault of a handler or of the database ends the back office or leaves a connection
// inside a transaction.

#include "BackOfficeFixture.h"

namespace errors = backoffice::errors;

namespace {

std::string syncOf(std::int64_t fundAccount, const char* auditAction = nullptr) {
    Fields fields = header(730000);
    fields.insert(fields.end(), {{"branch_no", std::int64_t{8}},
                                 {"fund_account", fundAccount},
                                 {"sync_type", std::int64_t{0}}});
    if (auditAction)
        fields.push_back({"audit_action", std::string(auditAction)});
    return buildPacket(730000, fields);
}

std::string modifyOf(const char* rate) {
    Fields fields = header(730003);
    fields.insert(fields.end(), {{"branch_no", std::int64_t{8}},
                                 {"fund_account", std::int64_t{80000003}},
                                 {"discount_rate", std::string(rate)}});
    return buildPacket(730003, fields);
}

std::string reviewOf(std::int64_t processId) {
    Fields fields = header(360042);
    fields.insert(fields.end(), {{"process_id", processId},
                                 {"audit_branch_no", std::int64_t{0}},
                                 {"audit_operator_no", std::string("1002")},
                                 {"auditop_password", std::string("pass1002")},
                                 {"audit_level", std::int64_t{1}},
                                 {"occur_date", std::int64_t{0}},
                                 {"task_serial_no", std::int64_t{0}},
                                 {"audit_remark", std::string(" ")}});
    return buildPacket(360042, fields);
}

std::string throwsNoStandardKind(backoffice::HandlerContext&) {
    throw 7;
}

// Writes in the transaction dispatch opened, makes its rollback fail, then fails itself.
std::string failsAndCannotRollBack(backoffice::HandlerContext& ctx) {
    ctx.db.exec("INSERT INTO sync_request (fund_account, branch_no, sync_type, operator_no) "
                "VALUES (80000001, 8, 0, 'x')");
    sqlite3_set_authorizer(
        ctx.db.handle(),
        [](void*, int action, const char* operation, const char*, const char*, const char*) {
            return action == SQLITE_TRANSACTION && std::string_view(operation) == "ROLLBACK"
                       ? SQLITE_DENY
                       : SQLITE_OK;
        },
        nullptr);
    throw backoffice::DatabaseError("the disk went away");
}

} // namespace

// A review rule on any reviewable function is honoured, the sync request among them, and
// the demand writes nothing of the change it holds back.
TEST_F(BackOfficeTest, AReviewRuleOnTheSyncRequestIsHonoured) {
    office->database().exec("INSERT INTO review_rule VALUES (730000, NULL, '同步需复核')");
    Reply demanded(office->handle(syncOf(80000001)));
    ASSERT_EQ(demanded.code(), errors::reviewRequired) << demanded.info();
    EXPECT_EQ(count("SELECT count(*) FROM sync_request"), 0);
    const std::int64_t process = std::stoll(partOf(demanded.info(), 2));
    ASSERT_EQ(Reply(office->handle(reviewOf(process))).code(), 0);
    EXPECT_EQ(Reply(office->handle(syncOf(80000001, "2"))).code(), 0);
    EXPECT_EQ(count("SELECT count(*) FROM sync_request"), 1);
    // A resend whose change fails keeps its approval unused.
    Reply again(office->handle(syncOf(80000001)));
    ASSERT_EQ(again.code(), errors::reviewRequired);
    const std::int64_t second = std::stoll(partOf(again.info(), 2));
    ASSERT_EQ(Reply(office->handle(reviewOf(second))).code(), 0);
    office->database().exec("CREATE TRIGGER no_sync BEFORE INSERT ON sync_request BEGIN "
                            "SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_EQ(Reply(office->handle(syncOf(80000001, "2"))).code(), errors::serverFault);
    EXPECT_EQ(
        count("SELECT status FROM review_process WHERE process_id = " + std::to_string(second)), 1);
}

// A handler that throws what no standard exception is, and one whose rollback fails: each
// request is answered with a fault, and the next requests are served as before, with no
// connection left inside a transaction.
TEST_F(BackOfficeTest, NoFaultOfAHandlerOrARollbackEndsTheService) {
    office.reset();
    backoffice::BackOffice bo(path);
    bo.replaceHandler(730004, &throwsNoStandardKind);
    bo.replaceHandler(730000, &failsAndCannotRollBack);
    backoffice::Session counter;
    ASSERT_EQ(Reply(bo.handle(counter, loginPacket("1001", "pass1001"))).code(), 0);
    Fields list = header(730004);
    list.insert(list.end(), {{"branch_no", std::int64_t{0}}, {"fund_account", std::int64_t{0}}});
    Reply odd(bo.handle(counter, buildPacket(730004, list)));
    EXPECT_EQ(odd.code(), errors::serverFault);
    EXPECT_EQ(odd.info().rfind("后台内部错误，请联系管理员（参考号：", 0), 0u) << odd.info();
    for (int i = 0; i < 3; ++i) {
        Reply failed(bo.handle(counter, syncOf(80000001)));
        EXPECT_EQ(failed.code(), errors::serverFault);
        Reply read(bo.handle(counter, configRequest()));
        EXPECT_EQ(read.code(), 0) << read.info();
        Reply written(bo.handle(counter, modifyOf(i % 2 ? "0.80" : "0.90")));
        EXPECT_EQ(written.code(), 0) << written.info();
    }
    backoffice::Database look(path);
    backoffice::Statement s = look.prepare("SELECT count(*) FROM sync_request");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.integer(0), 0);
}

namespace {

// Changes an operator's name, whatever function it serves.
std::string writesAnyway(backoffice::HandlerContext& ctx) {
    ctx.db.exec("UPDATE operator SET operator_name = '改过' WHERE operator_no = '1001'");
    return backoffice::errorReply(ctx.request.functionNo(), 0, "done");
}

// Closes the account as the table's handler does, but acts on a field its entry does not
// list (so a review would not have recorded it).
std::string closesByUnlistedField(backoffice::HandlerContext& ctx) {
    if (ctx.request.has("vip_level"))
        ctx.request.text("vip_level");
    return backoffice::handleVipClose(ctx);
}

// Reads only listed fields before the table's handler.
std::string closesByListedFields(backoffice::HandlerContext& ctx) {
    ctx.request.integer("fund_account");
    return backoffice::handleVipClose(ctx);
}

std::string closeOf(std::int64_t fundAccount, bool withLevel) {
    Fields fields = header(730002);
    fields.insert(fields.end(), {{"branch_no", std::int64_t{8}}, {"fund_account", fundAccount}});
    if (withLevel)
        fields.push_back({"vip_level", std::string("2")});
    return buildPacket(730002, fields);
}

} // namespace

// Every entry of the table says what its function does to the records: a reviewable one
// lists the fields its review records (its rate field among them), one that writes without
// review says why, and one that only reads lists nothing.
TEST(FunctionTableTest, EveryFunctionSaysWhetherItIsReviewable) {
    using backoffice::Access;
    ASSERT_FALSE(backoffice::functionTable().empty());
    for (const auto& [number, rule] : backoffice::functionTable()) {
        SCOPED_TRACE(number);
        EXPECT_NE(rule.handler, nullptr);
        switch (rule.access.value) {
        case Access::Reviewable:
            EXPECT_FALSE(rule.fields.empty());
            EXPECT_EQ(rule.unreviewedBecause, nullptr);
            if (rule.rateField) {
                EXPECT_NE(std::find(rule.fields.begin(), rule.fields.end(),
                                    std::string_view(rule.rateField)),
                          rule.fields.end());
            }
            break;
        case Access::Unreviewed:
            ASSERT_NE(rule.unreviewedBecause, nullptr);
            EXPECT_GT(std::string_view(rule.unreviewedBecause).size(), 10u);
            EXPECT_EQ(rule.rateField, nullptr);
            break;
        case Access::Reads:
            EXPECT_EQ(rule.unreviewedBecause, nullptr);
            EXPECT_EQ(rule.rateField, nullptr);
            EXPECT_TRUE(rule.fields.empty());
            break;
        }
    }
}

// A function the table says only reads cannot write: each one's handler, replaced by one
// that writes, is answered with a fault and changes nothing.
TEST_F(BackOfficeTest, AFunctionThatReadsCannotWrite) {
    office.reset();
    for (const auto& [number, rule] : backoffice::functionTable()) {
        if (rule.access.value != backoffice::Access::Reads)
            continue;
        SCOPED_TRACE(number);
        backoffice::BackOffice bo(path);
        bo.replaceHandler(number, &writesAnyway);
        backoffice::Session counter{"1001", static_cast<std::int32_t>(branchOf("1001"))};
        Fields fields = header(number);
        if (!rule.needsSession)
            fields[0].second = std::int64_t{0};
        if (rule.credential)
            fields.push_back({rule.credential, std::string("pass1001")});
        Reply reply(bo.handle(counter, buildPacket(number, fields)));
        EXPECT_EQ(reply.code(), errors::serverFault) << reply.info();
        backoffice::Statement s =
            bo.database().prepare("SELECT operator_name FROM operator WHERE operator_no = '1001'");
        ASSERT_TRUE(s.step());
        EXPECT_NE(s.text(0), "改过");
    }
}

// A reviewable handler that reads a field its entry does not list is a fault: the request
// is refused and nothing is changed, so that an approved request cannot be resent with
// such a field changed. Reading the listed fields works as before.
TEST_F(BackOfficeTest, AReviewableHandlerReadingAnUnlistedFieldFails) {
    office.reset();
    backoffice::BackOffice bo(path);
    bo.replaceHandler(730002, &closesByUnlistedField);
    bo.database().exec("DELETE FROM review_rule");
    backoffice::Session counter;
    ASSERT_EQ(Reply(bo.handle(counter, loginPacket("1001", "pass1001"))).code(), 0);
    const auto vips = [&] {
        backoffice::Statement s = bo.database().prepare("SELECT count(*) FROM vip_client");
        return s.step() ? s.integer(0) : -1;
    };
    const std::int64_t before = vips();
    ASSERT_GT(before, 0);
    backoffice::Statement s =
        bo.database().prepare("SELECT fund_account FROM vip_client ORDER BY fund_account");
    ASSERT_TRUE(s.step());
    const std::int64_t vip = s.integer(0);
    for (const bool withLevel : {true, false}) {
        Reply refused(bo.handle(counter, closeOf(vip, withLevel)));
        EXPECT_EQ(refused.code(), errors::serverFault) << refused.info();
        EXPECT_EQ(vips(), before);
    }
    bo.replaceHandler(730002, &closesByListedFields);
    Reply closed(bo.handle(counter, closeOf(vip, true)));
    EXPECT_EQ(closed.code(), 0) << closed.info();
}
