// A training room run by its IT person: the certificate command over a first start's pair,
// a reload on SIGHUP, the status command, a journal across a restore, the help and the
// defaults the packaged configuration and manual page show.

#include "BackOfficeFixture.h"
#include "BackOfficeProcess.h"
#include "TemporaryDir.h"
#include "WireClient.h"

#include "Certificate.h"
#include "ServeConfig.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

using namespace std::chrono_literals;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Waits, boundedly, for the server's log to say `what`.
bool logSays(const ServeProcess& server, const std::string& what) {
    for (int i = 0; i < 200; ++i) {
        if (contains(server.errors(), what))
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

} // namespace

// The README's command where a first start made a pair already: the pair is replaced, the
// old one kept beside it, for as many days as a first start gives; a reload serves it.
TEST(RoomOpsTest, TheCertificateCommandReplacesAFirstStartsPairAndAReloadServesIt) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    const std::string cert = dir.filePath("office.pem");
    const std::string key = dir.filePath("office.key");
    const std::string conf = dir.filePath("backoffice.conf");
    write(conf, "db = " + db + "\nlisten = 127.0.0.1:0\ncert = " + cert + "\nkey = " + key + "\n");
    ServeProcess server({"--config", conf}, dir.filePath("err"));
    ASSERT_NE(server.port(), 0) << server.errors();
    EXPECT_TRUE(contains(server.banner(), "<5>serving " + db + " on tls://")) << server.banner();
    const std::string firstPair = readAll(cert);
    const auto first = backoffice::readCertificateFacts(cert);

    const Outcome made = backofficeRun(
        {"cert", "--host", "marlo-office.lan,192.0.2.7", "--cert", cert, "--key", key});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(readAll(cert + ".old"), firstPair);
    EXPECT_TRUE(std::filesystem::exists(key + ".old"));
    const auto renewed = backoffice::readCertificateFacts(cert);
    EXPECT_NE(renewed.fingerprint, first.fingerprint);
    EXPECT_TRUE(contains(made.out, "fingerprint " + renewed.fingerprint)) << made.out;
    // One default: the command's pair lasts as long as the first start's.
    EXPECT_LT(std::abs(renewed.notAfter - first.notAfter), 3600);
    EXPECT_GT(renewed.notAfter - std::time(nullptr), 3649L * 24 * 3600);
    EXPECT_TRUE(contains(
        runProgram("openssl", {"x509", "-noout", "-ext", "subjectAltName", "-in", cert}).out,
        "DNS:marlo-office.lan"));

    ::kill(server.pid(), SIGHUP);
    ASSERT_TRUE(logSays(server, "<5>SIGHUP: read " + conf + " again; applied: cert (certificate " +
                                    renewed.fingerprint + ")"))
        << server.errors();
    const Outcome status = backofficeRun({"status", "--db", db});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_TRUE(contains(status.out, "fingerprint " + renewed.fingerprint)) << status.out;
    EXPECT_FALSE(contains(status.out, "warning")) << status.out;
    EXPECT_EQ(server.stop(SIGTERM, 10s).exitCode, 0);
}

// SIGHUP rereads the file: what can change while serving is applied, the rest is said to
// need a restart, and a file that fails to read keeps the one in use; the server lives on.
TEST(RoomOpsTest, SighupRereadsTheConfigurationAndABadOneKeepsTheOldOne) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    const std::string conf = dir.filePath("backoffice.conf");
    const std::string base = "db = " + db + "\nlisten = 127.0.0.1:0\n";
    write(conf, base);
    ServeProcess server({"--config", conf}, dir.filePath("err"));
    ASSERT_NE(server.port(), 0) << server.errors();

    write(conf, base + "login-timeout-ms = 9000\nworkers = 3\n");
    ::kill(server.pid(), SIGHUP);
    ASSERT_TRUE(logSays(server, "applied: login-timeout-ms; needs a restart to take effect: "
                                "workers"))
        << server.errors();
    write(conf, base + "workers = many\n");
    ::kill(server.pid(), SIGHUP);
    ASSERT_TRUE(logSays(server, "<3>SIGHUP: " + conf +
                                    ":3: workers: 'many' is not a whole number; keeping the "
                                    "configuration in use"))
        << server.errors();
    WireClient counter(server.port(), 5s);
    const auto reply = counter.call(loginPacket("1001", "pass1001"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->code(), 0);
    const ServeProcess::Stopped stopped = server.stop(SIGTERM, 10s);
    EXPECT_TRUE(stopped.exited);
    EXPECT_EQ(stopped.exitCode, 0);
}

// status shows who is logged in from where, and its Prometheus form is the text format
// with the requests and refusals of each function.
TEST(RoomOpsTest, StatusShowsTheLoggedInOperatorAndItsMetricsAreTextFormat) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    ServeProcess server({"--db", db, "--listen", "127.0.0.1:0"}, dir.filePath("err"));
    ASSERT_NE(server.port(), 0) << server.errors();
    WireClient counter(server.port(), 5s);
    ASSERT_TRUE(counter.call(loginPacket("1001", "pass1001")));
    WireClient stranger(server.port(), 5s);
    ASSERT_TRUE(stranger.call(loginPacket("1002", "wrong-password")));

    // The server publishes what it knows a moment after it changes.
    const std::regex refusal("marlo_backoffice_refusals_total\\{function=\"[0-9]+\"\\} 1\n");
    Outcome metrics;
    for (int i = 0; i < 100 && !std::regex_search(metrics.out, refusal); ++i) {
        std::this_thread::sleep_for(50ms);
        metrics = backofficeRun({"status", "--db", db, "--prometheus"});
    }
    const Outcome status = backofficeRun({"status", "--db", db});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_TRUE(contains(status.out, "logged in: 1\n  operator 1001\tfrom 127.0.0.1\tsince "))
        << status.out;
    EXPECT_TRUE(std::regex_search(status.out, std::regex("journal head: [0-9]+:[0-9a-f]{64}\n")))
        << status.out;
    EXPECT_TRUE(contains(status.out, "marlo-backoffice " MARLO_VERSION "\n")) << status.out;

    EXPECT_EQ(metrics.exitCode, 0) << metrics.err;
    const std::regex sample(R"([a-z_]+(\{[a-z_]+="[^"]*"\})? [0-9]+)");
    const std::regex comment(R"(# (HELP [a-z_]+ .+|TYPE [a-z_]+ (gauge|counter)))");
    std::istringstream lines(metrics.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(std::regex_match(line, sample) || std::regex_match(line, comment)) << line;
    EXPECT_GT(count, 10);
    EXPECT_TRUE(contains(metrics.out, "marlo_backoffice_sessions 1\n")) << metrics.out;
    EXPECT_TRUE(std::regex_search(metrics.out, refusal)) << metrics.out;
    EXPECT_EQ(server.stop(SIGTERM, 10s).exitCode, 0);
    // Once it stops, nobody is said to be logged in.
    EXPECT_TRUE(
        contains(backofficeRun({"status", "--db", db}).out, "server: not serving this database"));
}

// A checkpoint kept before a restore is not a tampering alarm: verify says where and by
// whom the chain began anew, with an exit status of its own. A break stays a break.
TEST(RoomOpsTest, ACheckpointFromBeforeARestoreIsToldApartFromTampering) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    const std::string baseline = dir.filePath("baseline.db");
    ASSERT_EQ(backofficeRun({"seed", "--db", db}).exitCode, 0);
    const std::map<std::string, std::string> trainer{{"SUDO_USER", "trainer7"}};
    ASSERT_EQ(
        backofficeRun({"operator", "add", "2001", "--db", db, "--name", "陈学员", "--branch", "8"},
                      {}, trainer)
            .exitCode,
        0);
    ASSERT_EQ(backofficeRun({"backup", "--db", db, "--to", baseline}).exitCode, 0);
    for (const char* no : {"2002", "2003"})
        ASSERT_EQ(
            backofficeRun({"operator", "add", no, "--db", db, "--name", "学员", "--branch", "8"},
                          {}, trainer)
                .exitCode,
            0);
    std::string checkpoint = backofficeRun({"journal", "checkpoint", "--db", db}).out;
    ASSERT_EQ(checkpoint.substr(0, 2), "3:");
    checkpoint.pop_back();
    ASSERT_EQ(backofficeRun({"restore", "--from", baseline, "--db", db}, {}, trainer).exitCode, 0);

    const Outcome verify = backofficeRun({"journal", "verify", "--db", db, "--expect", checkpoint});
    EXPECT_EQ(verify.exitCode, 4) << verify.out;
    EXPECT_TRUE(contains(verify.out, "日志在第2条记录处重新开始")) << verify.out;
    EXPECT_TRUE(contains(verify.out, "由trainer7从备份" + baseline + "恢复数据库")) << verify.out;
    EXPECT_TRUE(contains(verify.out, "此前的链末条为" + checkpoint + "。")) << verify.out;

    // A checkpoint of the part both chains share that does not hold is still tampering.
    const std::string forged = "1:" + std::string(64, 'a');
    EXPECT_EQ(backofficeRun({"journal", "verify", "--db", db, "--expect", forged}).exitCode, 3);
}

// The defaults the code uses are those the packaged configuration and the manual page
// show; --help names every key of the file; a file that begins with a byte-order mark
// serves.
TEST(RoomOpsTest, TheHelpThePackagedFileAndTheManualPageShowEveryOptionWithItsDefault) {
    const std::string conf = readAll(SOURCE_DIR "/packaging/backoffice.conf");
    const std::string page = readAll(SOURCE_DIR "/packaging/man/marlo-backoffice.8");
    const Outcome help = backofficeRun({"serve", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const backoffice::OptionRule& rule : backoffice::serveOptions()) {
        const std::string name = rule.name;
        EXPECT_TRUE(contains(help.out, "--" + name + " ")) << name;
        std::string escaped;
        for (char c : name)
            escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_TRUE(contains(page, "\\-\\-" + escaped)) << name;
        if (name != "config") {
            EXPECT_TRUE(std::regex_search(conf, std::regex("\n#?" + name + " = "))) << name;
        }
    }
    for (const auto& [name, value] : backoffice::serveOptionDefaults()) {
        EXPECT_TRUE(contains(conf, "\n#" + name + " = " + value + "\n")) << name << " " << value;
        // The option's own paragraph of the page, from its name to the next one.
        std::string escaped;
        for (char c : name)
            escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        const std::size_t at = page.find(".BI \\-\\-" + escaped);
        const std::size_t also = page.find("\\-\\-" + escaped + "\"");
        const std::size_t from = at != std::string::npos ? at : also;
        ASSERT_NE(from, std::string::npos) << name;
        const std::string paragraph = page.substr(from, page.find(".TP", from) - from);
        EXPECT_TRUE(contains(paragraph, "default " + value)) << name << " " << value << paragraph;
    }
    EXPECT_TRUE(contains(backofficeRun({"--help"}).out, "--max-logins-per-operator"));
    for (const char* command : {"cert", "status", "backup"}) {
        const Outcome o = backofficeRun({command, "--help"});
        EXPECT_EQ(o.exitCode, 0) << command;
        EXPECT_TRUE(contains(o.out, std::string("usage: marlo-backoffice ") + command)) << o.out;
    }
    EXPECT_EQ(backofficeRun({"--version"}).out, "marlo-backoffice " MARLO_VERSION "\n");
    EXPECT_TRUE(contains(page, "\"C_Marlo " MARLO_VERSION "\""));

    TemporaryDir dir;
    const std::string file = dir.filePath("bom.conf");
    write(file,
          "\xEF\xBB\xBFworkers = 2\ndb = " + dir.filePath("o.db") + "\nlisten = 127.0.0.1:0\n");
    ServeProcess server({"--config", file}, dir.filePath("err"));
    EXPECT_NE(server.port(), 0) << server.errors();
}

// A throttled operator is listed as such; the daily backups go into a folder, owner-only,
// and those past their days go.
TEST(RoomOpsTest, ThrottledOperatorsAreListedAndDatedBackupsAreKeptForTheirDays) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    ASSERT_EQ(backofficeRun({"seed", "--db", db}).exitCode, 0);
    {
        backoffice::Database d(db);
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        for (int i = 0; i < 100; ++i)
            d.prepare("INSERT INTO password_guess (operator_no, source, at_ms) VALUES "
                      "('1002', '192.0.2.9', ?)")
                .bind(1, std::int64_t{now - 1000 * i})
                .step();
    }
    const Outcome list = backofficeRun({"operator", "list", "--db", db});
    EXPECT_TRUE(std::regex_search(list.out, std::regex("\n1002\t[^\n]*\tthrottled\n"))) << list.out;
    EXPECT_TRUE(std::regex_search(list.out, std::regex("\n1001\t[^\n]*\tactive\n"))) << list.out;
    const Outcome status = backofficeRun({"status", "--db", db});
    EXPECT_TRUE(contains(status.out, "throttled operators: 1\n  operator 1002\t100 guesses"))
        << status.out;

    const std::string folder = dir.filePath("backups");
    std::filesystem::create_directory(folder);
    const std::string old = folder + "/office-20200101-000000.db";
    write(old, "old");
    std::filesystem::last_write_time(old, std::filesystem::file_time_type::clock::now() -
                                              std::chrono::hours(24 * 15));
    const std::string kept = folder + "/office-keep.db";
    write(kept, "younger");
    ::umask(022);
    const Outcome backup =
        backofficeRun({"backup", "--db", db, "--into", folder, "--keep-days", "14"});
    EXPECT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(kept));
    int made = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        made += std::regex_match(entry.path().filename().string(),
                                 std::regex("office-[0-9]{8}-[0-9]{6}\\.db"));
    EXPECT_EQ(made, 1);
}

// One bad row is said in the singular.
TEST(RoomOpsTest, OneBadRowIsOneBadRow) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    ASSERT_EQ(backofficeRun({"seed", "--db", db}).exitCode, 0);
    const Outcome exported = backofficeRun({"client", "export", "--db", db, "--csv"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    const std::string csv = dir.filePath("bad.csv");
    write(csv, exported.out.substr(0, exported.out.find('\n') + 1) + "this,row,is,bad\n");
    const Outcome import = backofficeRun({"client", "import", "--db", db, "--csv", csv});
    EXPECT_EQ(import.exitCode, 1);
    EXPECT_TRUE(contains(import.err, "marlo-backoffice: 1 bad row; nothing imported\n"))
        << import.err;
}
