// The administration commands: operators added, changed, disabled, given passwords and
// released, clients imported and exported as CSV, backups made while a server serves and
// restored once it stops; each change journaled with the administrator's name, and bad
// input refused with nothing changed.

#include "BackOfficeProcess.h"
#include "WireClient.h"

#include "Admin.h"
#include "ClientCsv.h"
#include "Journal.h"
#include <pty.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

namespace errors = backoffice::errors;
namespace journal = backoffice::journal;
using namespace std::chrono_literals;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string exported(backoffice::Database& db) {
    std::ostringstream out;
    backoffice::exportClients(db, out);
    return out.str();
}

std::string toGb18030(const std::string& utf8) {
    return runProgram("iconv", {"-f", "UTF-8", "-t", "GB18030"}, utf8).out;
}

const char csvHeader[] = "client_id,client_name,branch_no,id_kind,id_no,client_status,open_date,"
                         "fund_account,main_flag,fund_cards,bank_cards,stock_accounts\n";

} // namespace

class AdminTest : public BackOfficeTest {
protected:
    std::string db() const { return path; }
    Outcome admin(Arguments args, const std::string& input = {}) {
        args.insert(args.end(), {"--db", db()});
        return backofficeRun(args, input, {{"SUDO_USER", "trainer"}});
    }
    std::vector<backoffice::JournalEntry> entries() {
        return backoffice::readJournal(office->database(), {});
    }
    std::string operators() { return admin({"operator", "list"}).out; }
    Reply login(backoffice::Session& session, const std::string& no, const std::string& password) {
        return Reply(office->office.handle(session, loginPacket(no, password)));
    }
};

TEST_F(AdminTest, OperatorCommandsChangeHimAndJournalTheAdministratorsName) {
    EXPECT_EQ(admin({"operator", "add", "1005", "--name", "钱九", "--branch", "8", "--reviewer"})
                  .exitCode,
              0);
    EXPECT_TRUE(contains(operators(), "1005\t钱九\t1\t8\tyes\tno-password\n")) << operators();
    const Outcome passwd = admin({"operator", "passwd", "1005"}, "trainee-pass\n");
    EXPECT_EQ(passwd.exitCode, 0) << passwd.err;
    EXPECT_FALSE(contains(passwd.out + passwd.err, "trainee-pass"));
    EXPECT_EQ(admin({"operator", "set", "1005", "--name", "钱久", "--branch", "9", "--reviewer",
                     "no", "--kind", "2"})
                  .exitCode,
              0);
    EXPECT_TRUE(contains(operators(), "1005\t钱久\t2\t9\tno\tactive\n")) << operators();
    EXPECT_EQ(admin({"operator", "disable", "1005"}).exitCode, 0);
    EXPECT_TRUE(contains(operators(), "1005\t钱久\t2\t9\tno\tdisabled\n")) << operators();
    EXPECT_EQ(admin({"operator", "enable", "1005"}).exitCode, 0);
    const Outcome release = admin({"operator", "release", "1005"});
    EXPECT_EQ(release.exitCode, 0);
    EXPECT_TRUE(contains(release.out, "0 counted guesses")) << release.out;

    backoffice::Session session;
    session.source = "10.0.0.5";
    const Reply in = login(session, "1005", "trainee-pass");
    EXPECT_EQ(in.code(), 0) << in.info();
    EXPECT_EQ(count("SELECT count(*) FROM operator_function WHERE operator_no = '1005'"), 5);

    // The administration's entries, then his login from the counter.
    std::vector<backoffice::JournalEntry> all = entries();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().event, journal::login);
    EXPECT_EQ(all.back().source, "10.0.0.5");
    all.pop_back();
    std::vector<std::string> events;
    for (const auto& e : all) {
        events.push_back(e.event);
        EXPECT_EQ(e.operatorNo, "1005");
        EXPECT_EQ(e.station, "trainer");
        EXPECT_EQ(e.source, "admin");
        EXPECT_TRUE(e.detail.starts_with("管理员[trainer]")) << e.detail;
    }
    EXPECT_EQ(events,
              (std::vector<std::string>{journal::operatorAdded, journal::passwordSet,
                                        journal::operatorChanged, journal::operatorDisabled,
                                        journal::operatorEnabled, journal::operatorReleased}));
    EXPECT_TRUE(contains(entries()[2].detail, "由姓名钱九，营业部8，类别1，复核权限有改为姓名钱久，"
                                              "营业部9，类别2，复核权限无"))
        << entries()[2].detail;
    EXPECT_FALSE(backoffice::verifyJournal(office->database()).brokenAt);
}

TEST_F(AdminTest, OperatorCommandsRefuseBadInputAndChangeNothing) {
    const std::string before = operators();
    const struct {
        Arguments args;
        std::string input;
        std::string says;
    } cases[] = {
        {{"operator", "add", "1005", "--branch", "8"}, {}, "needs --name NAME and --branch N"},
        {{"operator", "add", "1005", "--name", "钱九", "--branch", "77"}, {}, "no branch 77"},
        {{"operator", "add", "1001", "--name", "钱九", "--branch", "8"}, {}, "exists already"},
        {{"operator", "add", "10-05", "--name", "钱九", "--branch", "8"}, {}, "letters and digits"},
        {{"operator", "add", "1005", "--name", "", "--branch", "8"}, {}, "--name"},
        {{"operator", "add", "1005", "--name", "x", "--branch", "8", "--kind", "3"}, {}, "--kind"},
        {{"operator", "set", "1001"}, {}, "at least one of"},
        {{"operator", "set", "9999", "--name", "x"}, {}, "no operator 9999"},
        {{"operator", "enable", "1001"}, {}, "enabled already"},
        {{"operator", "disable", "9999"}, {}, "no operator 9999"},
        {{"operator", "passwd", "1001"}, "short12\n", "shorter than 8 characters"},
        {{"operator", "passwd", "1001"}, "七个汉字的密码\n", "shorter than 8 characters"},
        {{"operator", "passwd", "1001"}, {}, "no password on standard input"},
        {{"operator", "passwd", "9999"}, "long enough\n", "no operator 9999"},
        {{"operator", "release", "9999"}, {}, "no operator 9999"},
    };
    for (const auto& c : cases) {
        const Outcome o = admin(c.args, c.input);
        EXPECT_EQ(o.exitCode, 1) << joined(c.args) << "\n" << o.err;
        EXPECT_TRUE(contains(o.err, c.says)) << joined(c.args) << "\n" << o.err;
    }
    EXPECT_EQ(operators(), before);
    EXPECT_TRUE(entries().empty());
    // The password that was refused is not the operator's: his own still logs him in.
    backoffice::Session session;
    EXPECT_EQ(login(session, "1001", "pass1001").code(), 0);

    const Outcome missing = backofficeRun({"operator", "list", "--db", dir.filePath("none.db")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.err, "no database")) << missing.err;
}

// On a terminal the password is asked twice and never echoed.
TEST_F(AdminTest, PasswdAsksTwiceOnATerminalWithoutEcho) {
    const auto onTerminal = [&](const std::string& first, const std::string& second) {
        int terminal = -1;
        const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
        if (pid == 0) {
            ::setenv("SUDO_USER", "trainer", 1);
            ::execl(BACKOFFICE_EXE, BACKOFFICE_EXE, "operator", "passwd", "1004", "--db",
                    path.c_str(), nullptr);
            ::_exit(127);
        }
        std::string screen;
        const auto readUntil = [&](const std::string& text) {
            char buffer[256];
            pollfd p{terminal, POLLIN, 0};
            while (!contains(screen, text) && ::poll(&p, 1, 10000) == 1) {
                const ssize_t n = ::read(terminal, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                screen.append(buffer, static_cast<std::size_t>(n));
            }
        };
        readUntil("New password for operator 1004: ");
        EXPECT_EQ(::write(terminal, (first + "\n").data(), first.size() + 1),
                  static_cast<ssize_t>(first.size() + 1));
        readUntil("Retype the new password: ");
        EXPECT_EQ(::write(terminal, (second + "\n").data(), second.size() + 1),
                  static_cast<ssize_t>(second.size() + 1));
        int status = 0;
        ::waitpid(pid, &status, 0);
        char rest[1024];
        pollfd p{terminal, POLLIN, 0};
        while (::poll(&p, 1, 200) == 1) {
            const ssize_t n = ::read(terminal, rest, sizeof rest);
            if (n <= 0)
                break;
            screen.append(rest, static_cast<std::size_t>(n));
        }
        ::close(terminal);
        EXPECT_FALSE(contains(screen, first)) << screen;
        EXPECT_FALSE(contains(screen, second)) << screen;
        return std::pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, screen);
    };
    const auto [differ, differScreen] = onTerminal("first-pass-1", "first-pass-2");
    EXPECT_EQ(differ, 1);
    EXPECT_TRUE(contains(differScreen, "the passwords differ")) << differScreen;
    backoffice::Session old;
    EXPECT_EQ(login(old, "1004", "pass1004").code(), 0);

    const auto [same, sameScreen] = onTerminal("counter-pass-4", "counter-pass-4");
    EXPECT_EQ(same, 0) << sameScreen;
    backoffice::Session changed;
    EXPECT_EQ(login(changed, "1004", "counter-pass-4").code(), 0);
    backoffice::Session stale;
    EXPECT_EQ(login(stale, "1004", "pass1004").code(), errors::wrongPassword);
}

// Disabled, his session ends with his very next request, and he reviews no more.
TEST_F(AdminTest, ADisabledOperatorsSessionEndsAtOnce) {
    Fields sync{{"branch_no", std::int64_t{8}},
                {"fund_account", std::int64_t{80000001}},
                {"sync_type", std::int64_t{0}}};
    ASSERT_EQ(call(730000, sync, "1004").code(), 0);
    ASSERT_TRUE(sessions["1004"].open());
    {
        backoffice::Database adminDb(path);
        backoffice::setOperatorDisabled(adminDb, "1004", true, "trainer");
        backoffice::setOperatorDisabled(adminDb, "1002", true, "trainer");
    }
    Fields fields = header(730000, "1004");
    fields.insert(fields.end(), sync.begin(), sync.end());
    const Reply refused(office->office.handle(sessions["1004"], buildPacket(730000, fields)));
    EXPECT_EQ(refused.code(), errors::operatorDisabled);
    EXPECT_EQ(refused.info(), "操作员[1004]已停用");
    EXPECT_FALSE(sessions["1004"].open());
    backoffice::Session again;
    EXPECT_EQ(login(again, "1004", "pass1004").code(), errors::operatorDisabled);
    EXPECT_EQ(count("SELECT count(*) FROM sync_request"), 1);

    // A disabled reviewer approves nothing, and is not named as the default reviewer.
    const Reply demand =
        call(730002, {{"branch_no", std::int64_t{8}}, {"fund_account", std::int64_t{80000003}}});
    ASSERT_EQ(demand.code(), errors::reviewRequired);
    EXPECT_EQ(partOf(demand.info(), 3), "1003") << demand.info();
    const std::int64_t process = std::stoll(partOf(demand.info(), 2));
    const Reply review = call(360042, {{"process_id", process},
                                       {"audit_branch_no", std::int64_t{0}},
                                       {"audit_operator_no", std::string("1002")},
                                       {"auditop_password", std::string("pass1002")},
                                       {"audit_level", std::int64_t{1}},
                                       {"occur_date", std::int64_t{0}},
                                       {"task_serial_no", std::int64_t{0}},
                                       {"audit_remark", std::string(1, '\0')}});
    EXPECT_EQ(review.code(), errors::operatorDisabled);

    {
        backoffice::Database adminDb(path);
        backoffice::setOperatorDisabled(adminDb, "1004", false, "trainer");
    }
    backoffice::Session back;
    EXPECT_EQ(login(back, "1004", "pass1004").code(), 0);
}

// As a served counter meets it: the disable command ends the session a running server
// holds, at its next request.
TEST_F(AdminTest, ARunningServerRefusesADisabledOperatorsNextRequest) {
    office.reset();
    ServeProcess server({"--db", path, "--listen", "127.0.0.1:0"}, dir.filePath("err"));
    ASSERT_NE(server.port(), 0) << server.errors();
    WireClient counter(server.port(), 5s);
    ASSERT_EQ(counter.call(loginPacket("1004", "pass1004"))->code(), 0);
    Fields sync = header(730000, "1004");
    sync.insert(sync.end(), {{"branch_no", std::int64_t{8}},
                             {"fund_account", std::int64_t{80000001}},
                             {"sync_type", std::int64_t{0}}});
    ASSERT_EQ(counter.call(buildPacket(730000, sync))->code(), 0);

    EXPECT_EQ(admin({"operator", "disable", "1004"}).exitCode, 0);
    const auto refused = counter.call(buildPacket(730000, sync));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), errors::operatorDisabled);
    EXPECT_EQ(admin({"operator", "enable", "1004"}).exitCode, 0);
    const auto ended = counter.call(buildPacket(730000, sync));
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->code(), errors::notLoggedIn);
}

TEST_F(AdminTest, AnOperatorAddedWithoutAPasswordLogsInOnlyOnceItIsSet) {
    backoffice::addOperator(office->database(), "2001", {"孙学员", 9, false, std::nullopt},
                            "trainer");
    backoffice::Session session;
    const Reply none = login(session, "2001", "");
    EXPECT_EQ(none.code(), errors::operatorDisabled);
    EXPECT_EQ(none.info(), "操作员[2001]尚未设置密码");
    EXPECT_EQ(count("SELECT count(*) FROM password_guess"), 0);
    backoffice::setOperatorPassword(office->database(), "2001", "学员的密码足够很长", "trainer");
    EXPECT_EQ(login(session, "2001", "学员的密码足够很长").code(), 0);
    EXPECT_EQ(session.branchNo, 9);
}

// The hourly bound of guesses at an operator, used up by strangers, is lifted by release:
// his own password is heard again from a counter where it never verified before.
TEST_F(AdminTest, ReleaseLiftsTheHourlyBoundOfGuesses) {
    backoffice::OfficeOptions options;
    options.throttle.guessesPerOperator = 3;
    backoffice::BackOffice bounded(path, options);
    for (int i = 0; i < 3; ++i) {
        backoffice::Session stranger;
        stranger.source = "10.9.0." + std::to_string(i);
        EXPECT_EQ(Reply(bounded.handle(stranger, loginPacket("1004", "guess"))).code(),
                  errors::wrongPassword);
    }
    backoffice::Session newCounter;
    newCounter.source = "10.0.0.44";
    EXPECT_EQ(Reply(bounded.handle(newCounter, loginPacket("1004", "pass1004"))).code(),
              errors::passwordThrottled);
    {
        backoffice::Database adminDb(path);
        EXPECT_EQ(backoffice::releaseOperator(adminDb, "1004", "trainer"), 3);
    }
    EXPECT_EQ(Reply(bounded.handle(newCounter, loginPacket("1004", "pass1004"))).code(), 0);
    const auto all = backoffice::readJournal(bounded.database(), {});
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all.back().event, journal::login);
    const backoffice::JournalEntry& released = all[all.size() - 2];
    EXPECT_EQ(released.event, journal::operatorReleased);
    EXPECT_EQ(released.detail, "管理员[trainer]解除操作员[1004]的密码错误限制，清除近期错误3次");
}

TEST_F(AdminTest, ExportAndImportCarryEveryClientInUtf8AndGb18030) {
    const std::string training = exported(office->database());
    EXPECT_TRUE(training.starts_with("client_id,client_name,branch_no,id_kind,id_no,"
                                     "client_status,open_date,risk_level,fund_account,main_flag,"
                                     "fundacct_status,client_group,room_code,fund_cards,"
                                     "bank_cards,stock_accounts\r\n"));
    EXPECT_TRUE(contains(training, "100001,张三,8,0,440301198001010011,0,20150310,3,80000001,1,0,"
                                   "0,0,6200001,1:6222000011112222,1:A000000123;2:0000000123\r\n"))
        << training.substr(0, 400);
    EXPECT_TRUE(
        contains(training, "100010,冯十二,8,0,440301199212120012,0,20221212,2,,,,,,,,\r\n"));
    for (const std::string& bytes : {training, toGb18030(training)}) {
        TemporaryDir room;
        const std::string emptyPath = room.filePath("empty.db");
        backoffice::Database empty(emptyPath, true);
        backoffice::seedEmpty(empty);
        const backoffice::ImportCount n =
            backoffice::importClients(empty, bytes, "trainer", "clients.csv");
        EXPECT_EQ(n.clients, 90);
        EXPECT_EQ(n.fundAccounts, 93);
        EXPECT_EQ(exported(empty), training);
        const auto imported = backoffice::readJournal(empty, {});
        ASSERT_EQ(imported.size(), 90u);
        EXPECT_EQ(imported.front().event, journal::clientImported);
        EXPECT_EQ(imported.front().clientId, "100001");
        EXPECT_EQ(imported.front().fundAccount, 80000001);
        EXPECT_EQ(
            imported.front().detail,
            "管理员[trainer]从文件clients.csv导入客户[100001]张三，资金账户：80000001,80000002");
    }
}

TEST_F(AdminTest, ImportChecksEveryRowAndImportsNothingWhenOneIsBad) {
    const std::string csv =
        std::string(csvHeader) +
        "300001,新客户,8,0,440301200001010011,0,20240105,90000001,,7000001,"
        "1:6222000099990001,1:A300000001\n"                                     // 2: good
        "300001,新客户,8,0,440301200001010011,0,20240105,90000002,,,,\r\n"      // 3: good
        "300002,\"王, 小二\",77,0,44030120000202,0,20240230,90000003,,,,\n"     // 4
        "300003,钱三,8,9,44030120000303,0,,90000001,,6200001,,X:123\n"          // 5
        "100001,张三,8,0,440301198001010011,0,20150310,,,,,\n"                  // 6
        "300004,周四,8,0,44030120000404,0,,90000004,2,,1:6222000099990001;1,\n" // 7
        "300001,新客户,9,0,440301200001010011,0,20240105,90000005,,,,\n"        // 8
        "300005,赵五,8,0,440301200005050055,0\n"                                // 9
        "300006,吴\"六\",8,0,440301200006060066,0,,90000006,,,,\n"              // 10
        "300007,郑七,8,0,440301200007070077,0,,90000007,1,,,\n"                 // 11
        "300007,郑七,8,0,440301200007070077,0,,90000008,1,,,\n";                // 12
    const std::int64_t clients = count("SELECT count(*) FROM client");
    try {
        backoffice::importClients(office->database(), csv, "trainer", "bad.csv");
        FAIL() << "imported";
    } catch (const backoffice::CsvImportError& e) {
        EXPECT_EQ(e.problems(),
                  (std::vector<std::string>{
                      "line 4: branch_no: no branch 77; open_date: '20240230' is no date "
                      "(YYYYMMDD)",
                      "line 5: id_kind: '9' is no identity document kind; fund account 90000001 "
                      "is on line 2 already; fund card 6200001 exists already; stock_accounts: "
                      "'X:123': EXCHANGE:ACCOUNT expected, the exchange one of 1 2 D H F1 F2 F3 "
                      "F4",
                      "line 6: client 100001 exists already",
                      "line 7: main_flag: 0 or 1 expected, not '2'; bank card 1:6222000099990001 "
                      "is on line 2 already; bank_cards: '1': BANK:ACCOUNT expected",
                      "line 8: client 300001's columns differ from line 2",
                      "line 9: 6 fields, the header has 12",
                      "line 10: a quote inside a field that does not start with one",
                      "line 12: a second main fund account of client 300007 (the first is on "
                      "line 11)"}));
    }
    EXPECT_EQ(count("SELECT count(*) FROM client"), clients);
    EXPECT_EQ(count("SELECT count(*) FROM fund_account WHERE fund_account >= 90000000"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM journal"), 0);

    // The good rows alone go in, in one go, as the user runs it.
    const std::string good = dir.filePath("good.csv");
    std::ofstream(good) << csvHeader
                        << csv.substr(std::strlen(csvHeader),
                                      csv.find("300002") - std::strlen(csvHeader));
    const Outcome ok = admin({"client", "import", "--csv", good});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_TRUE(contains(ok.out, "imported 1 clients with 2 fund accounts")) << ok.out;
    EXPECT_EQ(count("SELECT count(*) FROM fund_account WHERE client_id = '300001' AND "
                    "main_flag = '1'"),
              1);
    EXPECT_EQ(count("SELECT fund_account FROM fund_card WHERE fund_card = '7000001'"), 90000001);
    EXPECT_EQ(count("SELECT count(*) FROM stock_holder WHERE fund_account = 90000001"), 1);
}

TEST_F(AdminTest, TheImportCommandReportsEachBadLineOfTheFile) {
    const std::string file = dir.filePath("clients.csv");
    std::ofstream(file) << csvHeader << "300001,新客户,8,0,4403012000,0,20241301,90000001,,,,\n"
                        << "300002,新客户,8,0,4403012000,0,,90000002,,,,\n"
                        << "300003,,8,0,4403012000,0,,90000003,,,,\n";
    const Outcome o = admin({"client", "import", "--csv", file});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, file + ": line 2: open_date: '20241301' is no date (YYYYMMDD)\n" + file +
                         ": line 4: client_name: 1 to 64 bytes of printable text expected\n"
                         "marlo-backoffice: 2 bad rows; nothing imported\n");
    EXPECT_EQ(count("SELECT count(*) FROM client WHERE client_id LIKE '3%'"), 0);

    // Neither UTF-8 nor GB18030, and a header that names no known column.
    std::ofstream(file, std::ios::binary) << csvHeader << "300001,\x80\xFF,8\n";
    const Outcome bytes = admin({"client", "import", "--csv", file});
    EXPECT_EQ(bytes.exitCode, 1);
    EXPECT_TRUE(contains(bytes.err, "line 2: the file is neither UTF-8 nor GB18030")) << bytes.err;
    std::ofstream(file) << "client_id,name\n";
    const Outcome columns = admin({"client", "import", "--csv", file});
    EXPECT_TRUE(contains(columns.err, "line 1: unknown column 'name'")) << columns.err;
    const Outcome none = admin({"client", "import", "--csv", "/nonexistent/clients.csv"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(contains(none.err, "cannot read /nonexistent/clients.csv")) << none.err;

    const Outcome out = admin({"client", "export", "--csv"});
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.out, exported(office->database()));
}

// A backup is made while a server serves and writes, and its journal checks out; restore
// waits for the server to stop and says how.
TEST_F(AdminTest, BackupWhileServingAndRestoreOnceTheServerStops) {
    office.reset();
    ServeProcess server({"--db", path, "--listen", "127.0.0.1:0", "--workers", "2"},
                        dir.filePath("err"));
    ASSERT_NE(server.port(), 0) << server.errors();
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
        WireClient counter(server.port(), 5s);
        if (!counter.call(loginPacket("1001", "pass1001")))
            return;
        while (!stop) {
            Fields fields = header(730000);
            fields.push_back({"branch_no", std::int64_t{8}});
            fields.push_back({"fund_account", std::int64_t{80000003}});
            fields.push_back({"sync_type", std::int64_t{0}});
            const auto reply = counter.call(buildPacket(730000, fields));
            if (reply && reply->code() == errors::busy) {
                std::this_thread::sleep_for(50ms); // past a burst, one operator's writes are paced
                continue;
            }
            if (!reply || reply->code() != 0)
                return;
            ++written;
        }
    });
    while (written < 10)
        std::this_thread::sleep_for(1ms);
    const std::string copy = dir.filePath("monday.db");
    const Outcome backup = admin({"backup", "--to", copy});
    EXPECT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_TRUE(contains(backup.out, "its journal holds")) << backup.out;
    const int atBackup = written;
    while (written < atBackup + 2)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(admin({"backup", "--to", copy}).exitCode, 1);

    const Outcome whileServing = admin({"restore", "--from", copy});
    EXPECT_EQ(whileServing.exitCode, 1);
    EXPECT_TRUE(contains(whileServing.err, "a server has " + path +
                                               " open; stop it first (systemctl stop "
                                               "marlo-backoffice"))
        << whileServing.err;
    stop = true;
    writer.join();
    EXPECT_EQ(server.stop(SIGTERM, 10s).exitCode, 0);

    std::int64_t inCopy = 0;
    {
        backoffice::Database c(copy, backoffice::Database::ReadOnly{});
        backoffice::Statement s = c.prepare("SELECT count(*) FROM sync_request");
        ASSERT_TRUE(s.step());
        inCopy = s.integer(0);
        EXPECT_FALSE(backoffice::verifyJournal(c).brokenAt);
    }
    EXPECT_GE(inCopy, 10);
    EXPECT_LT(inCopy, written);
    EXPECT_FALSE(std::filesystem::exists(copy + "-wal"));

    const Outcome restored = admin({"restore", "--from", copy});
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    backoffice::Database after(path);
    backoffice::Statement s = after.prepare("SELECT count(*) FROM sync_request");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.integer(0), inCopy);
    const auto all = backoffice::readJournal(after, {});
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().event, journal::databaseRestored);
    EXPECT_EQ(all.back().station, "trainer");
    EXPECT_FALSE(backoffice::verifyJournal(after).brokenAt);
}

// A copy whose journal breaks is said to break, and is never restored.
TEST_F(AdminTest, ABackupWithABrokenJournalIsReportedAndNotRestored) {
    ASSERT_EQ(call(730000, {{"branch_no", std::int64_t{8}},
                            {"fund_account", std::int64_t{80000001}},
                            {"sync_type", std::int64_t{0}}})
                  .code(),
              0);
    office.reset();
    {
        backoffice::Database raw(path);
        raw.exec("UPDATE journal SET detail = 'nothing happened' WHERE entry_no = 1");
    }
    const std::string copy = dir.filePath("copy.db");
    const Outcome backup = admin({"backup", "--to", copy});
    EXPECT_EQ(backup.exitCode, 3);
    EXPECT_TRUE(contains(backup.out, "日志校验失败")) << backup.out;

    const std::string other = dir.filePath("other.db");
    const Outcome restore = backofficeRun({"restore", "--from", copy, "--db", other});
    EXPECT_EQ(restore.exitCode, 1);
    EXPECT_TRUE(contains(restore.err, "its journal breaks at entry 1")) << restore.err;
    EXPECT_FALSE(std::filesystem::exists(other));
}
