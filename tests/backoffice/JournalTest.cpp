// The journal: what each change and review event writes, the hash chain against rows edited,
// removed and inserted with the sqlite3 tool, the journal commands, reading a database a
// server is serving, and entries that stay with their changes across kill -9.

#include "WireClient.h"

#include "BackOfficeProcess.h"
#include "Journal.h"
#include "JournalReport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

namespace errors = backoffice::errors;
namespace journal = backoffice::journal;
using namespace std::chrono_literals;

namespace {

// One line of the journal's JSON: an object of names and values, each value as its text
// (a string unescaped, a number or null as written); none when the line is not one.
std::optional<std::map<std::string, std::string>> jsonObject(const std::string& line) {
    std::size_t i = 0;
    const auto skip = [&] {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
    };
    const auto string = [&]() -> std::optional<std::string> {
        if (i >= line.size() || line[i] != '"')
            return std::nullopt;
        std::string out;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] != '\\') {
                out.push_back(line[i]);
                continue;
            }
            if (++i >= line.size())
                return std::nullopt;
            switch (line[i]) {
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'u': {
                if (i + 4 >= line.size())
                    return std::nullopt;
                const unsigned code =
                    static_cast<unsigned>(std::stoul(line.substr(i + 1, 4), nullptr, 16));
                i += 4;
                if (code < 0x80) {
                    out.push_back(static_cast<char>(code));
                } else if (code < 0x800) {
                    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
                    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                } else {
                    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
                    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                }
                break;
            }
            default:
                out.push_back(line[i]);
                break;
            }
        }
        if (i >= line.size())
            return std::nullopt;
        ++i;
        return out;
    };
    std::map<std::string, std::string> object;
    skip();
    if (i >= line.size() || line[i++] != '{')
        return std::nullopt;
    skip();
    if (i < line.size() && line[i] == '}')
        return object;
    while (true) {
        skip();
        const auto name = string();
        skip();
        if (!name || i >= line.size() || line[i++] != ':')
            return std::nullopt;
        skip();
        std::optional<std::string> value;
        if (i < line.size() && line[i] == '"') {
            value = string();
        } else {
            const std::size_t end = line.find_first_of(",}", i);
            if (end == std::string::npos || end == i)
                return std::nullopt;
            value = line.substr(i, end - i);
            i = end;
        }
        if (!value)
            return std::nullopt;
        object[*name] = *value;
        skip();
        if (i < line.size() && line[i] == ',') {
            ++i;
            continue;
        }
        if (i < line.size() && line[i] == '}' && ++i == line.size())
            return object;
        return std::nullopt;
    }
}

Fields openAt(const std::string& rate) {
    return {{"branch_no", std::int64_t{8}},
            {"client_id", std::string("100001")},
            {"fund_account", std::int64_t{80000001}},
            {"discount_rate", rate}};
}

Fields closeOf(std::int64_t fundAccount) {
    return {{"branch_no", std::int64_t{8}}, {"fund_account", fundAccount}};
}

Fields modifyOf(std::int64_t fundAccount, const std::string& rate) {
    return {{"branch_no", std::int64_t{8}}, {"fund_account", fundAccount}, {"discount_rate", rate}};
}

Fields syncOf(std::int64_t fundAccount) {
    return {{"branch_no", std::int64_t{8}},
            {"fund_account", fundAccount},
            {"sync_type", std::int64_t{0}}};
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

Outcome sqlite3Command(const std::string& path, const std::string& sql) {
    return runProgram("sqlite3", {path, sql});
}

// marlo-backoffice serve in a process of its own, killed with SIGKILL when it goes.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& path) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::execl(BACKOFFICE_EXE, BACKOFFICE_EXE, "serve", "--db", path.c_str(), "--listen",
                    "127.0.0.1:0", "--workers", "2", nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        std::string banner;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (pid_ > 0 && banner.find('\n') == std::string::npos && ::poll(&p, 1, 20000) == 1 &&
               ::read(out[0], &c, 1) == 1)
            banner.push_back(c);
        ::close(out[0]);
        const std::size_t colon = banner.rfind(':');
        if (colon != std::string::npos)
            port_ = static_cast<std::uint16_t>(std::stoi(banner.substr(colon + 1)));
    }
    ~ServerProcess() { kill(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    std::uint16_t port() const { return port_; }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace

class JournalTest : public BackOfficeTest {
protected:
    std::vector<backoffice::JournalEntry> entries(const std::string& event = {}) {
        std::vector<backoffice::JournalEntry> all = backoffice::readJournal(office->database(), {});
        if (!event.empty())
            std::erase_if(all, [&](const auto& e) { return e.event != event; });
        return all;
    }
    std::vector<std::string> events() {
        std::vector<std::string> out;
        for (const auto& e : entries())
            out.push_back(e.event);
        return out;
    }
    std::int64_t demand(const Fields& open) {
        Reply r = call(730001, open);
        EXPECT_EQ(r.code(), errors::reviewRequired);
        return std::stoll(partOf(r.info(), 2));
    }
    backoffice::JournalCheck verify() { return backoffice::verifyJournal(office->database()); }
};

TEST_F(JournalTest, TheReviewedOpenAndTheChangesAfterItAreJournaledInOrder) {
    const std::int64_t process = demand(openAt("0.45"));
    EXPECT_EQ(call(360042, review(process, "1002", "wrong")).code(), errors::reviewerPassword);
    ASSERT_EQ(call(360042, review(process, "1002", "pass1002")).code(), 0);
    ASSERT_EQ(call(730001, resent(openAt("0.45"))).code(), 0);
    ASSERT_EQ(call(730003, modifyOf(80000001, "0.60")).code(), 0);
    ASSERT_EQ(call(730000, syncOf(80000001)).code(), 0);
    const std::int64_t closing = [&] {
        Reply r = call(730002, closeOf(80000001));
        EXPECT_EQ(r.code(), errors::reviewRequired);
        return std::stoll(partOf(r.info(), 2));
    }();
    ASSERT_EQ(call(360042, review(closing, "1003", "pass1003")).code(), 0);
    ASSERT_EQ(call(730002, resent(closeOf(80000001))).code(), 0);

    EXPECT_EQ(events(), (std::vector<std::string>{
                            journal::reviewDemanded, journal::reviewRefused,
                            journal::reviewApproved, journal::approvalUsed, journal::vipOpen,
                            journal::vipModify, journal::sync, journal::reviewDemanded,
                            journal::reviewApproved, journal::approvalUsed, journal::vipClose}));
    const auto all = entries();
    for (const auto& e : all) {
        EXPECT_EQ(e.operatorNo, "1001") << e.event;
        EXPECT_EQ(e.branchNo, 8) << e.event;
        EXPECT_EQ(e.station, "00-1A-2B") << e.event;
        EXPECT_EQ(e.clientId, "100001") << e.event;
        EXPECT_EQ(e.fundAccount, 80000001) << e.event;
        EXPECT_GT(e.occurredAt, 0) << e.event;
    }
    // The demand: which request, which default reviewer.
    EXPECT_EQ(all[0].functionId, 730001);
    EXPECT_EQ(all[0].processId, process);
    EXPECT_EQ(all[0].reviewer, "1002");
    EXPECT_EQ(all[0].rateAfter, "0.45");
    // Refused and approved: by whom.
    EXPECT_EQ(all[1].reviewer, "1002");
    EXPECT_EQ(all[1].processId, process);
    EXPECT_EQ(all[1].functionId, 730001);
    EXPECT_EQ(all[1].detail.rfind("复核柜员密码错误", 0), 0u) << all[1].detail;
    EXPECT_EQ(all[2].reviewer, "1002");
    EXPECT_EQ(all[3].processId, process);
    EXPECT_EQ(all[3].reviewer, "1002");
    // What changed: the rate before and after.
    EXPECT_EQ(all[4].functionId, 730001);
    EXPECT_EQ(all[4].rateBefore, "");
    EXPECT_EQ(all[4].rateAfter, "0.45");
    EXPECT_EQ(all[5].rateBefore, "0.45");
    EXPECT_EQ(all[5].rateAfter, "0.60");
    EXPECT_EQ(all[6].functionId, 730000);
    EXPECT_EQ(all[7].processId, closing);
    EXPECT_EQ(all[9].reviewer, "1003");
    EXPECT_EQ(all[10].rateBefore, "0.60");
    EXPECT_EQ(all[10].rateAfter, "");

    const backoffice::JournalCheck check = verify();
    EXPECT_FALSE(check.brokenAt) << check.explanation;
    EXPECT_EQ(check.checked, 11);
    EXPECT_EQ(check.headHash, all.back().hash);
}

TEST_F(JournalTest, WrongPasswordsAndTheThrottlingTheyBringAreJournaled) {
    office.reset();
    backoffice::OfficeOptions options;
    options.throttle.freeFailures = 1;
    options.throttle.guessesPerOperator = 3;
    backoffice::BackOffice guarded(path, options);
    const auto guess = [&](const std::string& source) {
        backoffice::Session session;
        session.source = source;
        return Reply(guarded.handle(session, loginPacket("1004", "guess"))).code();
    };
    EXPECT_EQ(guess("10.0.0.1"), errors::wrongPassword);
    EXPECT_EQ(guess("10.0.0.1"), errors::wrongPassword); // now the source must wait
    EXPECT_EQ(guess("10.0.0.1"), errors::passwordThrottled);
    EXPECT_EQ(guess("10.0.0.1"), errors::passwordThrottled); // journaled once a minute
    EXPECT_EQ(guess("10.0.0.2"), errors::wrongPassword);     // 1004's guesses used up
    EXPECT_EQ(guess("10.0.0.3"), errors::passwordThrottled);

    const auto all = backoffice::readJournal(guarded.database(), {});
    std::vector<std::string> kinds;
    for (const auto& e : all)
        kinds.push_back(e.event + "@" + e.source);
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"password_wrong@10.0.0.1", "password_wrong@10.0.0.1",
                                        "source_slowed@10.0.0.1", "login_refused@10.0.0.1",
                                        "password_wrong@10.0.0.2", "operator_bounded@10.0.0.2",
                                        "login_refused@10.0.0.3"}));
    for (const auto& e : all) {
        EXPECT_EQ(e.operatorNo, "1004") << e.event;
        EXPECT_EQ(e.functionId, 100001) << e.event;
    }
    EXPECT_EQ(all[1].detail, "登录密码错误，该来源第2次");
    EXPECT_EQ(all[2].detail, "来源[10.0.0.1]密码错误2次，须等待1秒");
    EXPECT_NE(all[3].detail.find("请1秒后再试"), std::string::npos) << all[3].detail;
    EXPECT_EQ(all[5].detail, "操作员[1004]60分钟内密码错误3次，只受理其本人常用柜台的密码");
    EXPECT_FALSE(backoffice::verifyJournal(guarded.database()).brokenAt);
}

TEST_F(JournalTest, AWrongOperatorPasswordOnARequestIsJournaledAndChangesNothing) {
    EXPECT_EQ(call(730000, syncOf(80000001), "1001", "wrong").code(), errors::wrongPassword);
    const auto wrong = entries(journal::passwordWrong);
    ASSERT_EQ(wrong.size(), 1u);
    EXPECT_EQ(wrong[0].detail, "操作密码错误，该来源第1次");
    EXPECT_EQ(wrong[0].functionId, 730000);
    EXPECT_EQ(wrong[0].source, "local");
    EXPECT_EQ(count("SELECT count(*) FROM sync_request"), 0);
    EXPECT_EQ(entries(journal::sync).size(), 0u);
}

TEST_F(JournalTest, EveryRefusedReviewSaysWhoAndWhy) {
    const std::int64_t process = demand(openAt("0.45"));
    EXPECT_EQ(call(360042, review(process, "1001", "pass1001")).code(), errors::sameReviewer);
    EXPECT_EQ(call(360042, review(process, "1004", "pass1004")).code(), errors::noReviewRight);
    EXPECT_EQ(call(360042, review(process, "7777", "x")).code(), errors::unknownOperator);
    const auto refused = entries(journal::reviewRefused);
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused[0].reviewer, "1001");
    EXPECT_EQ(refused[0].detail, "复核柜员不能与经办柜员相同");
    EXPECT_EQ(refused[1].reviewer, "1004");
    EXPECT_EQ(refused[1].detail, "柜员[1004]没有复核权限");
    EXPECT_EQ(refused[2].reviewer, "7777");
    for (const auto& e : refused) {
        EXPECT_EQ(e.processId, process);
        EXPECT_EQ(e.functionId, 730001);
    }
}

TEST_F(JournalTest, AnApprovalThatExpiresUnusedIsJournaledOnce) {
    const std::int64_t process = demand(openAt("0.45"));
    ASSERT_EQ(call(360042, review(process, "1002", "pass1002")).code(), 0);
    const std::int64_t age = office->office.options().reviewMaxAge.count();
    office->database().exec("UPDATE review_process SET approved_at = approved_at - " +
                            std::to_string(age + 1));
    EXPECT_EQ(call(730001, resent(openAt("0.45"))).code(), errors::reviewExpired);
    EXPECT_EQ(call(730001, resent(openAt("0.45"))).code(), errors::reviewExpired);
    auto expired = entries(journal::approvalExpired);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].processId, process);
    EXPECT_EQ(expired[0].reviewer, "1002");
    EXPECT_EQ(expired[0].operatorNo, "1001");
    EXPECT_EQ(entries(journal::approvalUsed).size(), 0u);
    EXPECT_EQ(count("SELECT count(*) FROM vip_client WHERE fund_account = 80000001"), 0);

    // An approval nobody comes back for is found by the next write of anyone.
    const std::int64_t again = demand(openAt("0.45"));
    ASSERT_EQ(call(360042, review(again, "1002", "pass1002")).code(), 0);
    office->database().exec("UPDATE review_process SET approved_at = approved_at - " +
                            std::to_string(age + 1) +
                            " WHERE process_id = " + std::to_string(again));
    ASSERT_EQ(call(730003, modifyOf(80000003, "0.70"), "1004").code(), 0);
    expired = entries(journal::approvalExpired);
    ASSERT_EQ(expired.size(), 2u);
    EXPECT_EQ(expired[1].processId, again);
    EXPECT_EQ(expired[1].operatorNo, "1001");
    EXPECT_EQ(expired[1].station, "");
    EXPECT_EQ(expired[1].source, "");
    EXPECT_FALSE(verify().brokenAt);
}

TEST_F(JournalTest, ARefusedChangeLeavesNoEntry) {
    EXPECT_EQ(call(730003, modifyOf(80000001, "0.60")).code(), errors::notVip);
    EXPECT_EQ(call(730003, modifyOf(80000003, "1.50")).code(), errors::badRate);
    EXPECT_EQ(call(730001, openAt("0.45")).code(), errors::reviewRequired);
    EXPECT_EQ(call(730001, resent(openAt("0.45"))).code(), errors::notReviewed);
    EXPECT_EQ(events(), std::vector<std::string>{journal::reviewDemanded});
}

TEST_F(JournalTest, AnEntryIsWrittenOnlyInsideATransaction) {
    backoffice::JournalEntry e;
    e.event = journal::sync;
    EXPECT_THROW(backoffice::appendJournal(office->database(), e), backoffice::DatabaseError);
    {
        backoffice::Transaction t(office->database());
        backoffice::appendJournal(office->database(), e);
        // Left without a commit: the entry goes with the transaction.
    }
    EXPECT_EQ(entries().size(), 0u);
}

TEST_F(JournalTest, ADatabaseOfAnEarlierVersionGetsItsJournalWhenOpened) {
    office.reset();
    {
        backoffice::Database db(path);
        db.exec("DROP TABLE journal; DROP INDEX review_process_by_approval");
    }
    Outcome old = backofficeRun({"journal", "verify", "--db", path});
    EXPECT_EQ(old.exitCode, 1);
    EXPECT_NE(old.err.find("没有日志"), std::string::npos) << old.err;
    office = std::make_unique<CounterOffice>(path);
    ASSERT_EQ(call(730000, syncOf(80000001)).code(), 0);
    ASSERT_EQ(entries(journal::sync).size(), 1u);
    EXPECT_EQ(verify().checked, 1);
}

// The schema's journal table and the columns the journal writes, reads and reports agree,
// name by name and in order: the hash covers the content in that order.
TEST_F(JournalTest, TheTableHasTheColumnsTheJournalWrites) {
    backoffice::Statement s = office->database().prepare("PRAGMA table_info(journal)");
    std::vector<std::string> names;
    while (s.step())
        names.push_back(s.text(1));
    std::vector<std::string> written;
    for (const backoffice::JournalColumn& column : backoffice::journalColumns)
        written.emplace_back(column.name);
    EXPECT_EQ(names, written);
}

class JournalTamperTest : public JournalTest {
protected:
    void SetUp() override {
        JournalTest::SetUp();
        for (const char* rate : {"0.60", "0.70", "0.80", "0.90", "0.75"})
            ASSERT_EQ(call(730003, modifyOf(80000003, rate)).code(), 0);
        ASSERT_EQ(entries().size(), 5u);
        office.reset(); // the sqlite3 tool and the command have the file to themselves
    }
    Outcome verifyCommand() { return backofficeRun({"journal", "verify", "--db", path}); }
    void tamper(const std::string& sql) {
        const Outcome r = sqlite3Command(path, sql);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
};

TEST_F(JournalTamperTest, AnIntactJournalVerifies) {
    const Outcome r = verifyCommand();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("已校验5条记录"), std::string::npos) << r.out;
}

TEST_F(JournalTamperTest, AnEditedEntryIsFound) {
    tamper("UPDATE journal SET rate_after = '0.01' WHERE entry_no = 3");
    const Outcome r = verifyCommand();
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.out.find("第3条记录处断开（edited）"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("此前2条完好"), std::string::npos) << r.out;
}

TEST_F(JournalTamperTest, AnEntryEditedTogetherWithItsHashIsFound) {
    // Its own hash made to look right to a careless eye: the next entry no longer follows.
    tamper("UPDATE journal SET entry_hash = (SELECT entry_hash FROM journal WHERE entry_no = 2), "
           "prev_hash = (SELECT prev_hash FROM journal WHERE entry_no = 2) WHERE entry_no = 3");
    const Outcome r = verifyCommand();
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.out.find("（edited）"), std::string::npos) << r.out;
}

TEST_F(JournalTamperTest, ARemovedEntryIsFound) {
    tamper("DELETE FROM journal WHERE entry_no = 2");
    const Outcome r = verifyCommand();
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.out.find("第2条记录处断开（removed）"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("第2条记录被删除"), std::string::npos) << r.out;
}

TEST_F(JournalTamperTest, EntriesRemovedFromTheEndAreFound) {
    tamper("DELETE FROM journal WHERE entry_no >= 4");
    const Outcome r = verifyCommand();
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.out.find("第4至5条记录被删除"), std::string::npos) << r.out;
}

TEST_F(JournalTamperTest, AnInsertedEntryIsFound) {
    // A copy of an entry, as a forger would add one more approval or change.
    tamper("INSERT INTO journal (occurred_at, event, operator_no, op_branch_no, op_station, "
           "source, function_id, client_id, fund_account, rate_before, rate_after, process_id, "
           "reviewer, detail, prev_hash, entry_hash) SELECT occurred_at, event, operator_no, "
           "op_branch_no, op_station, source, function_id, client_id, fund_account, "
           "rate_before, '0.01', process_id, reviewer, detail, prev_hash, entry_hash FROM "
           "journal WHERE entry_no = 5");
    Outcome r = verifyCommand();
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.out.find("第6条记录处断开（inserted）"), std::string::npos) << r.out;

    // In the middle: the entries after it moved up by one to make room.
    tamper("DELETE FROM journal WHERE entry_no = 6; "
           "UPDATE journal SET entry_no = -entry_no WHERE entry_no >= 3; "
           "UPDATE journal SET entry_no = 1 - entry_no WHERE entry_no < 0; "
           "INSERT INTO journal SELECT 3, occurred_at, event, operator_no, op_branch_no, "
           "op_station, source, function_id, client_id, fund_account, rate_before, rate_after, "
           "process_id, reviewer, detail, prev_hash, entry_hash FROM journal WHERE entry_no = 2");
    r = verifyCommand();
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.out.find("第3条记录处断开（inserted）"), std::string::npos) << r.out;
}

TEST(JournalTime, DatesAndTimesAsTheCommandTakesThem) {
    const auto day = backoffice::parseJournalTime("2026-12-08", false);
    ASSERT_TRUE(day);
    EXPECT_EQ(backoffice::journalTimeText(*day), "2026-12-08 00:00:00");
    EXPECT_EQ(backoffice::parseJournalTime("20261208", false), day);
    EXPECT_EQ(backoffice::journalTimeText(*backoffice::parseJournalTime("2026-12-08", true)),
              "2026-12-08 23:59:59");
    EXPECT_EQ(backoffice::journalTimeText(*backoffice::parseJournalTime("2026-12-08 14:30", true)),
              "2026-12-08 14:30:00");
    EXPECT_EQ(
        backoffice::journalTimeText(*backoffice::parseJournalTime("2026-12-08T14:30:05", false)),
        "2026-12-08 14:30:05");
    for (const char* bad : {"2026-02-30", "2026-13-01", "yesterday", "2026-12-08 25:00",
                            "2026-12-08 14:30:05x", "2026-12-8", ""})
        EXPECT_FALSE(backoffice::parseJournalTime(bad, false)) << bad;
}

class JournalCommandTest : public JournalTest {
protected:
    void SetUp() override {
        JournalTest::SetUp();
        const std::int64_t process = demand(openAt("0.45"));
        ASSERT_EQ(call(360042, review(process, "1002", "wrong")).code(), errors::reviewerPassword);
        ASSERT_EQ(call(360042, review(process, "1002", "pass1002")).code(), 0);
        ASSERT_EQ(call(730001, resent(openAt("0.45"))).code(), 0);
        // A workstation a hostile counter made up: a formula and a line break.
        backoffice::Session other;
        Reply login(office->office.handle(other, loginPacket("1004", "pass1004")));
        ASSERT_EQ(login.code(), 0);
        Fields fields = header(730003, "1004");
        fields[3].second = std::string("=HYPERLINK(\"x\")\n\x1b[2J");
        const Fields modify = modifyOf(80000003, "0.70");
        fields.insert(fields.end(), modify.begin(), modify.end());
        ASSERT_EQ(Reply(office->office.handle(other, buildPacket(730003, fields))).code(), 0);
    }
    Outcome journalCommand(Arguments more) {
        return backofficeRun(Arguments{"journal", "--db", path} + more);
    }
};

TEST_F(JournalCommandTest, TheTableHasChineseHeadingsAndOneLinePerEntry) {
    const Outcome r = journalCommand({"--client", "100001"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("序号  时间", 0), 0u) << r.out;
    for (const char* text :
         {"要求复核", "复核被拒", "复核通过", "复核批准已使用", "VIP开户", "0.45", "共5条"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2 + 5 + 1);
    // The made-up workstation cannot reach the terminal as control characters.
    const Outcome all = journalCommand({});
    EXPECT_EQ(all.out.find('\x1b'), std::string::npos);
    EXPECT_NE(all.out.find("=HYPERLINK(\"x\")??[2J"), std::string::npos) << all.out;
}

TEST_F(JournalCommandTest, FiltersByOperatorClientAccountAndTime) {
    const auto jsonLines = [](const std::string& out) {
        std::vector<std::map<std::string, std::string>> objects;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.empty())
                continue;
            auto object = jsonObject(line);
            EXPECT_TRUE(object) << line;
            objects.push_back(object.value_or(std::map<std::string, std::string>{}));
        }
        return objects;
    };
    // As operator or as reviewer.
    auto lines = jsonLines(journalCommand({"--operator", "1002", "--format", "json"}).out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0]["event"], "review_demanded");
    EXPECT_EQ(lines[0]["reviewer"], "1002");
    EXPECT_EQ(lines[1]["event"], "review_refused");
    EXPECT_EQ(lines[2]["event"], "review_approved");
    EXPECT_EQ(lines[2]["event_text"], std::string("复核通过"));
    EXPECT_EQ(lines[3]["event"], "approval_used");

    lines = jsonLines(journalCommand({"--fund-account", "80000003", "--format", "json"}).out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["operator_no"], "1004");
    EXPECT_EQ(lines[0]["rate_before"], "0.80");
    EXPECT_EQ(lines[0]["rate_after"], "0.70");
    EXPECT_EQ(lines[0]["op_station"], std::string("=HYPERLINK(\"x\")\n\x1b[2J"));
    EXPECT_EQ(lines[0]["entry_hash"].size(), 64u);

    lines = jsonLines(
        journalCommand({"--client", "100001", "--operator", "1004", "--format", "json"}).out);
    EXPECT_EQ(lines.size(), 0u);

    const std::string today =
        backoffice::journalTimeText(static_cast<std::int64_t>(std::time(nullptr))).substr(0, 10);
    EXPECT_EQ(
        jsonLines(journalCommand({"--since", today, "--until", today, "--format", "json"}).out)
            .size(),
        6u);
    EXPECT_EQ(jsonLines(journalCommand({"--until", "2000-01-01", "--format", "json"}).out).size(),
              0u);
    const Outcome bad = journalCommand({"--since", "yesterday"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("YYYY-MM-DD"), std::string::npos);
    EXPECT_EQ(journalCommand({"--format", "xml"}).exitCode, 2);
    EXPECT_EQ(journalCommand({"--colour", "red"}).exitCode, 2);
}

TEST_F(JournalCommandTest, CsvOpensInASpreadsheetWithItsChineseAndNoFormulas) {
    const Outcome r = journalCommand({"--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(r.out.rfind("\xEF\xBB\xBF序号,时间,事件,", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("哈希\r\n"), std::string::npos);
    EXPECT_NE(r.out.find(",VIP开户,1001,8,00-1A-2B,local,730001,100001,80000001,,0.45,"),
              std::string::npos)
        << r.out;
    // The made-up workstation is one quoted cell that a spreadsheet shows as text.
    EXPECT_NE(r.out.find(",\"'=HYPERLINK(\"\"x\"\")\n\x1b[2J\","), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\r'), 1 + 6);
}

// A server keeps writing while the journal is read and verified from the command line.
TEST_F(JournalTest, IsReadAndVerifiedWhileAServerServesTheDatabase) {
    office.reset();
    ServerProcess server(path);
    ASSERT_NE(server.port(), 0);
    WireClient counter(server.port());
    ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
        Fields fields = header(730000);
        const Fields sync = syncOf(80000001);
        fields.insert(fields.end(), sync.begin(), sync.end());
        const std::string request = buildPacket(730000, fields);
        while (!stop) {
            auto reply = counter.call(request);
            if (reply && reply->code() == errors::busy) {
                std::this_thread::sleep_for(50ms); // past a burst, one operator's writes are paced
                continue;
            }
            if (!reply || reply->code() != 0)
                return;
            ++written;
        }
    });
    while (written < 3)
        std::this_thread::sleep_for(5ms);
    const Outcome read = backofficeRun({"journal", "--db", path, "--format", "json"});
    const Outcome verified = backofficeRun({"journal", "verify", "--db", path});
    // The server went on writing meanwhile and afterwards.
    const int during = written;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (written < during + 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    stop = true;
    writer.join();
    EXPECT_GE(written, during + 2);
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_GE(std::count(read.out.begin(), read.out.end(), '\n'), 3);
    EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
    server.kill();
    // Read-only: the reading left no trace the server did not make.
    const Outcome after = backofficeRun({"journal", "verify", "--db", path});
    EXPECT_EQ(after.exitCode, 0) << after.out << after.err;
    // Each change's entry, and the writer's login.
    EXPECT_NE(after.out.find("已校验" + std::to_string(written.load() + 1) + "条"),
              std::string::npos)
        << after.out;
}

// Over the network a login, a refused login and a logout are journaled; a flood of refused
// logins adds an entry per disabled operator and address once a minute, and none for
// operators that do not exist.
TEST_F(JournalTest, ServedLoginsRefusalsAndLogoutsAreJournaledWithinBounds) {
    office.reset();
    ASSERT_EQ(backofficeRun({"operator", "disable", "1003", "--db", path}).exitCode, 0);
    ServerProcess server(path);
    ASSERT_NE(server.port(), 0);
    const auto journalRows = [&] {
        backoffice::Database db(path);
        return backoffice::readJournal(db, {});
    };
    const auto countOf = [](const std::vector<backoffice::JournalEntry>& all,
                            const std::string& event, const std::string& operatorNo) {
        return std::count_if(all.begin(), all.end(), [&](const backoffice::JournalEntry& e) {
            return e.event == event && e.operatorNo == operatorNo;
        });
    };
    {
        WireClient counter(server.port());
        ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
        const auto started = std::chrono::steady_clock::now();
        const std::size_t before = journalRows().size();
        std::optional<WireClient> stranger;
        for (int i = 0; i < 200; ++i) {
            if (!stranger || !stranger->connected())
                stranger.emplace(server.port());
            const auto reply =
                stranger->call(loginPacket(i % 2 == 0 ? "1003" : std::to_string(7000 + i), "x"));
            if (reply) {
                EXPECT_NE(reply->code(), 0);
            } else {
                stranger.reset(); // closed by the server: the next attempt connects again
            }
        }
        const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(
                                 std::chrono::steady_clock::now() - started)
                                 .count();
        const auto flooded = journalRows();
        EXPECT_GE(countOf(flooded, journal::loginRefused, "1003"), 1);
        EXPECT_LE(flooded.size() - before, static_cast<std::size_t>(1 + minutes));
        for (const auto& e : flooded)
            EXPECT_FALSE(e.operatorNo.starts_with("7")) << e.event << " " << e.operatorNo;
    }
    // The counter's connection is closed: its session ends on the server a moment later.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (countOf(journalRows(), journal::logout, "1001") == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    const auto all = journalRows();
    EXPECT_EQ(countOf(all, journal::login, "1001"), 1);
    EXPECT_EQ(countOf(all, journal::logout, "1001"), 1);
    for (const auto& e : all) {
        if (e.event == journal::operatorDisabled)
            continue;
        EXPECT_EQ(e.source.rfind("127.0.0.1", 0), 0u) << e.event << " " << e.source;
        if (e.event == journal::loginRefused) {
            EXPECT_EQ(e.detail, "操作员[1003]已停用");
        }
    }
    const Outcome listed = backofficeRun({"journal", "--db", path, "--format", "csv"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    for (const char* shown : {",登录,1001,8,", ",登录被拒,1003,,", ",退出登录,1001,"})
        EXPECT_NE(listed.out.find(shown), std::string::npos) << shown << "\n" << listed.out;
    const Outcome verified = backofficeRun({"journal", "verify", "--db", path});
    EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
}

// Writes and their entries under kill -9: after each kill, every change has its entry and
// every entry its change, every acknowledged write is there, and the chain holds.
TEST_F(JournalTest, AChangeAndItsEntryNeverPartAcrossKill9) {
    office.reset();
    std::mt19937 random(20);
    const char* rates[] = {"0.55", "0.65", "0.75", "0.85", "0.95"};
    int acknowledged = 0;
    for (int round = 0; round < 4; ++round) {
        ServerProcess server(path);
        ASSERT_NE(server.port(), 0);
        WireClient counter(server.port(), 3s);
        ASSERT_EQ(counter.call(loginPacket("1001", "pass1001"))->code(), 0);
        std::atomic<int> ok{0};
        std::thread writer([&] {
            for (int i = 0;; ++i) {
                Fields fields = header(i % 2 ? 730000 : 730003);
                const Fields body =
                    i % 2 ? syncOf(80000003) : modifyOf(80000003, rates[(i / 2) % 5]);
                fields.insert(fields.end(), body.begin(), body.end());
                auto reply = counter.call(buildPacket(i % 2 ? 730000 : 730003, fields));
                if (!reply || reply->code() != 0)
                    return;
                ++ok;
            }
        });
        while (ok < 4)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
        server.kill();
        writer.join();
        acknowledged += ok;

        backoffice::Database db(path);
        const backoffice::JournalCheck check = backoffice::verifyJournal(db);
        ASSERT_FALSE(check.brokenAt) << check.explanation;
        // Every sync request has its one entry, and every entry its request.
        backoffice::Statement syncs = db.prepare(
            "SELECT (SELECT count(*) FROM sync_request), (SELECT count(*) FROM journal WHERE "
            "event = 'sync'), (SELECT count(*) FROM sync_request s WHERE (SELECT count(*) FROM "
            "journal j WHERE j.event = 'sync' AND j.detail LIKE '%流水号' || s.serial_no) = 1)");
        ASSERT_TRUE(syncs.step());
        EXPECT_EQ(syncs.integer(0), syncs.integer(1));
        EXPECT_EQ(syncs.integer(0), syncs.integer(2));
        // The modifies: each entry starts from the rate the one before left, and the last
        // one's rate is the client's.
        backoffice::Statement modifies = db.prepare(
            "SELECT rate_before, rate_after FROM journal WHERE event = 'vip_modify' ORDER BY "
            "entry_no");
        std::string rate = "0.80";
        std::int64_t changes = 0;
        while (modifies.step()) {
            EXPECT_EQ(modifies.text(0), rate);
            rate = modifies.text(1);
            ++changes;
        }
        backoffice::Statement current =
            db.prepare("SELECT printf('%.2f', discount_rate) FROM vip_client "
                       "WHERE fund_account = 80000003");
        ASSERT_TRUE(current.step());
        EXPECT_EQ(current.text(0), rate);
        // Nothing acknowledged is lost; at most the one write under way is there unacknowledged.
        EXPECT_GE(changes + syncs.integer(0), acknowledged);
        EXPECT_LE(changes + syncs.integer(0), acknowledged + round + 1);
    }
}
