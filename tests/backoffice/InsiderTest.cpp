// An insider with a valid password, and strangers sharing his address, against the bounds
// on password guesses: a right password clears only its own operator's count, reviewer
// passwords are bounded wherever they are tried, the bound on an operator is lifted by an
// administrator, and a counter's own right password is never slowed by others' failures.

#include "WireClient.h"

#include "ServedOfficeTest.h"
#include <memory>
#include <thread>

namespace errors = backoffice::errors;
using namespace std::chrono_literals;

namespace {

std::string withPassword(std::int32_t functionNo, const std::string& operatorNo,
                         const std::string& password, const Fields& extra) {
    Fields fields = header(functionNo, operatorNo);
    if (!password.empty())
        fields.insert(fields.begin() + 3, {"op_password", password});
    fields.insert(fields.end(), extra.begin(), extra.end());
    return buildPacket(functionNo, fields);
}

// 1001's VIP open at a rate that needs a reviewer.
std::string lowRateOpen() {
    return withPassword(730001, "1001", "",
                        {{"branch_no", std::int64_t{8}},
                         {"client_id", std::string("100001")},
                         {"fund_account", std::int64_t{80000001}},
                         {"discount_rate", std::string("0.45")}});
}

std::string reviewOf(std::int64_t processId, const std::string& reviewer,
                     const std::string& password) {
    return withPassword(360042, "1001", "",
                        {{"process_id", processId},
                         {"audit_branch_no", std::int64_t{0}},
                         {"audit_operator_no", reviewer},
                         {"auditop_password", password},
                         {"audit_level", std::int64_t{1}},
                         {"occur_date", std::int64_t{0}},
                         {"task_serial_no", std::int64_t{0}},
                         {"audit_remark", std::string(" ")}});
}

std::string vipListOf(const std::string& operatorNo, const std::string& password) {
    return withPassword(730004, operatorNo, password,
                        {{"branch_no", std::int64_t{0}},
                         {"fund_account", std::int64_t{80000003}},
                         {"position_str", std::string("0")},
                         {"request_num", std::int64_t{1}}});
}

// The process of a review demand, or 0.
std::int64_t demandOn(WireClient& counter) {
    auto reply = counter.call(lowRateOpen());
    if (!reply || reply->code() != errors::reviewRequired)
        return 0;
    return std::stoll(partOf(reply->info(), 2));
}

} // namespace

class InsiderTest : public ServedOfficeTest {
protected:
    void serve(backoffice::OfficeOptions officeOptions = {}) {
        ServedOfficeTest::serve({}, officeOptions);
    }
};

// The insider guesses at reviewer 1002 from his own counter and logs in as himself between
// guesses, which once cleared his address's count every time: now his own right password
// clears only his own count, and his guesses at 1002 wait longer after each one.
TEST_F(InsiderTest, HisOwnRightPasswordDoesNotClearHisGuessesAtTheReviewer) {
    serve();
    const int free = backOffice->options().throttle.freeFailures;
    WireClient insider(port());
    ASSERT_EQ(insider.call(loginPacket("1001", "pass1001"))->code(), 0);
    int checked = 0;
    int held = 0;
    int guess = 0;
    // Until a guess is held back, however slow the machine; were his own password to clear
    // his count, none would be and the deadline would end the loop.
    const auto start = std::chrono::steady_clock::now();
    while (held == 0 && std::chrono::steady_clock::now() < start + 60s) {
        const std::int64_t process = demandOn(insider);
        ASSERT_NE(process, 0);
        for (int i = 0; i < 2; ++i) {
            auto reply = insider.call(reviewOf(process, "1002", "guess" + std::to_string(++guess)));
            ASSERT_TRUE(reply);
            checked += reply->code() == errors::reviewerPassword;
            held += reply->code() == errors::passwordThrottled;
        }
        ASSERT_EQ(insider.call(loginPacket("1001", "pass1001"))->code(), 0);
    }
    // The free ones, then one after each delay that has run out: 1 s, 2 s more, 4 s more...
    const auto elapsed = std::chrono::steady_clock::now() - start;
    int allowed = free + 1;
    for (auto delays = 1s, delay = 1s; delays <= elapsed; delay *= 2, delays += delay)
        ++allowed;
    EXPECT_GT(held, 0);
    EXPECT_LE(checked, allowed);
}

// Once 1002 has approved a review at the insider's counter, that counter is one of his own:
// guesses from there still count against 1002's bound, and past it the counter has only
// its small allowance, already spent by its own guesses. 1002 still signs in at his own
// counter, and a counter he never used is told to ask the administrator.
TEST_F(InsiderTest, GuessesFromAReviewersKnownCounterAreBounded) {
    backoffice::OfficeOptions o;
    o.throttle.firstDelay = 1ms; // the address's wait plays no part here
    o.throttle.maxDelay = 2ms;
    o.throttle.guessesPerOperator = 8;
    o.throttle.knownSourceGuesses = 3;
    serve(o);
    {
        WireClient reviewersOwn(port(), 10s, "127.0.0.2");
        ASSERT_EQ(reviewersOwn.call(loginPacket("1002", "pass1002"))->code(), 0);
    }
    WireClient insider(port());
    ASSERT_EQ(insider.call(loginPacket("1001", "pass1001"))->code(), 0);
    const std::int64_t approved = demandOn(insider);
    ASSERT_EQ(insider.call(reviewOf(approved, "1002", "pass1002"))->code(), 0);

    int checked = 0;
    std::int64_t process = demandOn(insider);
    for (int i = 0; i < 24; ++i) {
        auto reply = insider.call(reviewOf(process, "1002", "guess" + std::to_string(i)));
        ASSERT_TRUE(reply);
        if (reply->code() == errors::reviewerPassword)
            ++checked;
        else
            ASSERT_EQ(reply->code(), errors::passwordThrottled) << reply->info();
        if (reply->info().find("已作废") != std::string::npos)
            process = demandOn(insider);
    }
    EXPECT_LE(checked, o.throttle.guessesPerOperator);
    EXPECT_GE(checked, o.throttle.guessesPerOperator - 1);
    // Even the right password is not checked from the insider's counter now.
    EXPECT_EQ(insider.call(reviewOf(process, "1002", "pass1002"))->code(),
              errors::passwordThrottled);

    WireClient reviewersOwn(port(), 10s, "127.0.0.2");
    EXPECT_EQ(reviewersOwn.call(loginPacket("1002", "pass1002"))->code(), 0);
    WireClient elsewhere(port(), 10s, "127.0.0.3");
    auto refused = elsewhere.call(loginPacket("1002", "pass1002"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), errors::passwordThrottled);
    EXPECT_EQ(refused->info(),
              "操作员[1002]近期密码错误次数过多，请在本人常用的柜台登录，或请管理员解除限制");
}

// Strangers from many addresses use up 1003's guesses: he is refused at a counter he never
// used until the administrator lifts his bound, which the journal records with the
// administrator's name.
TEST_F(InsiderTest, TheAdministratorLiftsAnOperatorsBound) {
    backoffice::OfficeOptions o;
    o.throttle.guessesPerOperator = 5;
    office.reset();
    backoffice::BackOffice bo(path, o);
    const auto login = [&](const std::string& source, const char* password) {
        backoffice::Session s;
        s.source = source;
        return Reply(bo.handle(s, loginPacket("1003", password)));
    };
    ASSERT_EQ(login("10.0.0.3", "pass1003").code(), 0);
    for (int i = 0; i < o.throttle.guessesPerOperator; ++i)
        EXPECT_EQ(login("10.0.1." + std::to_string(i), "guess").code(), errors::wrongPassword);
    Reply refused = login("10.0.0.9", "pass1003");
    EXPECT_EQ(refused.code(), errors::passwordThrottled);
    EXPECT_NE(refused.info().find("请管理员解除限制"), std::string::npos) << refused.info();
    EXPECT_EQ(login("10.0.0.3", "pass1003").code(), 0);

    bo.releaseOperator("1003", "admin7");
    EXPECT_EQ(login("10.0.0.9", "pass1003").code(), 0);
    // The bound holds again for guesses made after the release.
    for (int i = 0; i < o.throttle.guessesPerOperator; ++i)
        EXPECT_EQ(login("10.0.2." + std::to_string(i), "guess").code(), errors::wrongPassword);
    EXPECT_EQ(login("10.0.0.10", "pass1003").code(), errors::passwordThrottled);

    const auto entries = backoffice::readJournal(bo.database(), {});
    std::vector<backoffice::JournalEntry> released;
    for (const auto& e : entries) {
        if (e.event == backoffice::journal::operatorReleased)
            released.push_back(e);
    }
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0].operatorNo, "1003");
    EXPECT_EQ(released[0].detail, "管理员[admin7]解除操作员[1003]的密码错误限制，清除近期错误5次");
    EXPECT_FALSE(backoffice::verifyJournal(bo.database()).brokenAt);
    try {
        bo.releaseOperator("7777", "admin7");
        ADD_FAILURE() << "an unknown operator was released";
    } catch (const backoffice::ServiceError& e) {
        EXPECT_EQ(e.errorNo(), errors::unknownOperator);
    }
}

// A stranger on the same address as an honest counter (one router, one address) guesses at
// other operators: the counter's requests with its own right password are answered, and so
// is a right login from there; only past the wide bound of the address does a login wait.
TEST_F(InsiderTest, OthersFailuresOnASharedAddressNeverSlowACountersOwnPassword) {
    backoffice::OfficeOptions o;
    o.throttle.freeFailuresPerSource = 6;
    serve(o);
    WireClient counter(port());
    ASSERT_EQ(counter.call(loginPacket("1004", "pass1004"))->code(), 0);
    WireClient stranger(port());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(stranger.call(loginPacket("1003", "guess" + std::to_string(i)))->code(),
                  errors::wrongPassword);
    EXPECT_EQ(stranger.call(loginPacket("1003", "pass1003"))->code(), errors::passwordThrottled);

    auto own = counter.call(vipListOf("1004", "pass1004"));
    ASSERT_TRUE(own);
    EXPECT_EQ(own->code(), 0) << own->info();
    {
        WireClient another(port());
        auto login = another.call(loginPacket("1004", "pass1004"));
        ASSERT_TRUE(login);
        EXPECT_EQ(login->code(), 0) << login->info();
    }
    // Past the address's wide bound a login from there waits; the counter's own password
    // still does not.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(stranger.call(loginPacket("1001", "guess" + std::to_string(i)))->code(),
                  errors::wrongPassword);
    {
        WireClient another(port());
        EXPECT_EQ(another.call(loginPacket("1004", "pass1004"))->code(), errors::passwordThrottled);
    }
    own = counter.call(vipListOf("1004", "pass1004"));
    ASSERT_TRUE(own);
    EXPECT_EQ(own->code(), 0) << own->info();
}

// Eight counters of one operator alternating a wrong and the right operator password: the
// right ones clear nothing, so the wrong ones are slowed as any guesses are.
TEST_F(InsiderTest, AlternatingWrongAndRightOperatorPasswordsGetNoGuessesThrough) {
    backoffice::TcpServer::Options options;
    options.maxLoginsPerOperator = 8;
    ServedOfficeTest::serve(options);
    const int free = backOffice->options().throttle.freeFailures;
    // Logged in one after another before any guess: a login checks the right password from
    // this address, which clears its count, and on a loaded machine a hash takes long.
    std::vector<std::unique_ptr<WireClient>> logins;
    for (int c = 0; c < 8; ++c) {
        logins.push_back(std::make_unique<WireClient>(port()));
        ASSERT_EQ(logins.back()->call(loginPacket("1001", "pass1001"))->code(), 0);
    }
    std::atomic<int> checked{0};
    std::atomic<int> rightRefused{0};
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + 3s;
    std::vector<std::thread> counters;
    for (int c = 0; c < 8; ++c) {
        counters.emplace_back([&, c] {
            WireClient& counter = *logins[c];
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
                auto wrong = counter.call(vipListOf("1001", "x" + std::to_string(c * 1000 + i)));
                auto right = counter.call(vipListOf("1001", "pass1001"));
                if (!wrong || !right)
                    return;
                checked += wrong->code() == errors::wrongPassword;
                rightRefused += right->code() != 0;
            }
        });
    }
    for (std::thread& t : counters)
        t.join();
    // The free ones and the one whose failure brings the first wait, then, after each delay
    // that has run out by the last answer (1 s, 2 s more, ...), the guesses that reach the
    // hash before the first of them has failed: at most one for each turn at the hash, on a
    // machine slow enough. The right passwords between them clear nothing.
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const int turns = static_cast<int>(backOffice->options().maxHashes);
    int allowed = free + 1;
    for (auto delays = 1s, delay = 1s; delays <= elapsed; delay *= 2, delays += delay)
        allowed += turns;
    EXPECT_LE(checked.load(), allowed);
    EXPECT_EQ(rightRefused.load(), 0);
}

// Addresses of one IPv6 /64 are one address to the throttle; an IPv4 address mapped into
// IPv6 is the IPv4 address.
TEST_F(InsiderTest, OnIPv6A64IsOneAddress) {
    using backoffice::PasswordThrottle;
    EXPECT_EQ(PasswordThrottle::addressOf("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
    EXPECT_EQ(PasswordThrottle::addressOf("::ffff:10.0.0.7"), "10.0.0.7");
    EXPECT_EQ(PasswordThrottle::addressOf("10.0.0.7"), "10.0.0.7");
    EXPECT_EQ(PasswordThrottle::addressOf("local"), "local");

    const int free = office->office.options().throttle.freeFailures;
    const auto login = [&](const std::string& source, const char* password) {
        backoffice::Session s;
        s.source = source;
        return Reply(office->office.handle(s, loginPacket("1004", password))).code();
    };
    for (int i = 0; i <= free; ++i)
        EXPECT_EQ(login("2001:db8:1:2::" + std::to_string(i + 1), "guess"), errors::wrongPassword);
    EXPECT_EQ(login("2001:db8:1:2:ffff::9", "guess"), errors::passwordThrottled);
    EXPECT_EQ(login("2001:db8:1:3::1", "guess"), errors::wrongPassword);
}

// A re-login as another operator that is refused, for whatever reason, ends the session
// it was sent on: the previous operator's requests are no longer carried out there.
TEST_F(InsiderTest, AnyRefusedReLoginEndsTheOldSession) {
    serve();
    const std::string tooLong(backoffice::RequestLimits::maxFieldBytes + 1, 'p');
    Fields noStation = header(100001, "1002");
    noStation[0].second = std::int64_t{0};
    noStation.erase(noStation.begin() + 3);
    noStation.push_back({"password", std::string("pass1002")});
    const struct {
        const char* what;
        std::string packet;
        std::int32_t code;
    } refusals[] = {
        {"too long", loginPacket("1002", tooLong), errors::tooLarge},
        {"no station", buildPacket(100001, noStation), errors::badRequest},
        {"unknown operator", loginPacket("7777", "x"), errors::unknownOperator},
        {"wrong password", loginPacket("1002", "wrong"), errors::wrongPassword},
    };
    for (const auto& refusal : refusals) {
        WireClient counter(port());
        ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
        ASSERT_EQ(counter.call(vipListOf("1001", ""))->code(), 0);
        EXPECT_EQ(counter.call(refusal.packet)->code(), refusal.code) << refusal.what;
        EXPECT_EQ(counter.call(vipListOf("1001", ""))->code(), errors::notLoggedIn) << refusal.what;
    }
}

// A logged-in counter sends review demands padded with fields the function never reads:
// the demand stores only what the function reads, so the database grows by a few KiB per
// demand, not by the padding.
TEST_F(InsiderTest, AReviewDemandStoresOnlyWhatTheFunctionReads) {
    serve();
    WireClient counter(port());
    ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
    Fields close = header(730002);
    close.insert(close.end(),
                 {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000003}}});
    for (int i = 0; i < 15; ++i)
        close.push_back({"unread_" + std::to_string(i),
                         std::string(backoffice::RequestLimits::maxFieldBytes, 'x')});
    const std::string padded = buildPacket(730002, close);
    ASSERT_LE(padded.size(), backoffice::RequestLimits::maxRequestBytes);
    const auto size = [&] {
        return count("SELECT page_count * page_size FROM pragma_page_count, pragma_page_size");
    };
    const std::int64_t before = size();
    constexpr int demands = 20;
    for (int i = 0; i < demands; ++i) {
        auto reply = counter.call(padded);
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->code(), errors::reviewRequired) << reply->info();
    }
    const std::int64_t perDemand = (size() - before) / demands;
    EXPECT_LT(perDemand, 4096);
    EXPECT_EQ(count("SELECT count(*) FROM review_process WHERE request_fields LIKE '%unread%'"), 0);
    EXPECT_EQ(count("SELECT max(length(request_fields)) FROM review_process") > 0, true);

    // A read field longer than a review may store is refused, and so is a long workstation.
    Fields longStation = header(730002);
    longStation[3].second = std::string(65, 's');
    longStation.insert(longStation.end(),
                       {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000003}}});
    EXPECT_EQ(counter.call(buildPacket(730002, longStation))->code(), errors::badRequest);
}

// One operator's demands nobody reviews are capped: past the cap the oldest expire, each
// journaled, and can no longer be approved.
TEST_F(InsiderTest, OneOperatorsOpenReviewsAreCapped) {
    backoffice::OfficeOptions o;
    o.openReviewsPerOperator = 4;
    office.reset();
    office = std::make_unique<CounterOffice>(path);
    backoffice::BackOffice bo(path, o);
    backoffice::Session counter;
    ASSERT_EQ(Reply(bo.handle(counter, loginPacket("1001", "pass1001"))).code(), 0);
    std::vector<std::int64_t> processes;
    for (int i = 0; i < 6; ++i) {
        Reply demanded(bo.handle(counter, lowRateOpen()));
        ASSERT_EQ(demanded.code(), errors::reviewRequired);
        processes.push_back(std::stoll(partOf(demanded.info(), 2)));
    }
    EXPECT_EQ(count("SELECT count(*) FROM review_process WHERE status = '0'"), 4);
    EXPECT_EQ(count("SELECT count(*) FROM review_process WHERE status = '5'"), 2);
    std::vector<std::int64_t> expired;
    for (const auto& e : backoffice::readJournal(bo.database(), {})) {
        if (e.event == backoffice::journal::reviewExpired)
            expired.push_back(e.processId);
    }
    EXPECT_EQ(expired, (std::vector<std::int64_t>{processes[0], processes[1]}));
    Reply late(bo.handle(counter, reviewOf(processes[0], "1002", "pass1002")));
    EXPECT_EQ(late.code(), errors::noSuchProcess);
    EXPECT_EQ(late.info(), "复核流程[" + std::to_string(processes[0]) + "]已过期，请重新提交业务");
    EXPECT_EQ(Reply(bo.handle(counter, reviewOf(processes[5], "1002", "pass1002"))).code(), 0);
}
