// serve as a service runs it: options checked by name wherever they come from, its
// configuration file, what a first start makes, the readiness it tells systemd, its log's
// priorities, and a stop on SIGTERM that answers what it has in hand and loses nothing.

#include "BackOfficeProcess.h"
#include "WireClient.h"

#include "CommandLine.h"
#include "Journal.h"
#include "ServeConfig.h"

#include "TemporaryDir.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
using backoffice::OptionRule;
using Kind = OptionRule::Kind;

namespace {

const std::vector<OptionRule> rules{
    {"db"}, {"workers", Kind::Number, 1, 64}, {"listen", Kind::Address}, {"reviewer", Kind::Flag}};

std::string usageError(const std::vector<std::string>& args) {
    try {
        backoffice::parseOptions(args, rules);
    } catch (const backoffice::UsageError& e) {
        return e.what();
    }
    return "accepted";
}

void write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::int64_t countIn(const std::string& db, const std::string& sql) {
    backoffice::Database d(db, backoffice::Database::ReadOnly{});
    backoffice::Statement s = d.prepare(sql);
    return s.step() ? s.integer(0) : -1;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(CommandLineTest, AnUnknownRepeatedOrBadOptionIsRefusedByName) {
    EXPECT_EQ(usageError({"--db", "a.db", "--wrokers", "2"}), "unknown option --wrokers");
    EXPECT_EQ(usageError({"-db", "a.db"}), "unknown option -db");
    EXPECT_EQ(usageError({"--db", "a", "--db", "b"}), "option --db given twice");
    EXPECT_EQ(usageError({"--db"}), "option --db needs a value");
    EXPECT_EQ(usageError({"--workers", "abc"}), "--workers: 'abc' is not a whole number");
    EXPECT_EQ(usageError({"--workers", "4x"}), "--workers: '4x' is not a whole number");
    EXPECT_EQ(usageError({"--workers", "99999999999999999999"}),
              "--workers: '99999999999999999999' is not a whole number");
    EXPECT_EQ(usageError({"--workers", "0"}), "--workers: '0' is out of range (1 to 64)");
    EXPECT_EQ(usageError({"--listen", "127.0.0.1:70000"}),
              "--listen: '127.0.0.1:70000' is not HOST:PORT with a port from 0 to 65535");

    const backoffice::Options o =
        backoffice::parseOptions({"1005", "--reviewer", "--workers", "8", "x"}, rules);
    EXPECT_EQ(o.words, (std::vector<std::string>{"1005", "x"}));
    EXPECT_TRUE(o.yes("reviewer", false));
    EXPECT_EQ(o.number("workers", 0), 8);
}

TEST(CommandLineTest, ThePortIsCheckedNeverCut) {
    EXPECT_FALSE(backoffice::parseHostPort("127.0.0.1:65536"));
    EXPECT_FALSE(backoffice::parseHostPort("127.0.0.1:-1"));
    EXPECT_FALSE(backoffice::parseHostPort("127.0.0.1:"));
    EXPECT_FALSE(backoffice::parseHostPort("7001"));
    EXPECT_FALSE(backoffice::parseHostPort(":7001"));
    const auto v4 = backoffice::parseHostPort("0.0.0.0:65535");
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->host, "0.0.0.0");
    EXPECT_EQ(v4->port, 65535);
    const auto v6 = backoffice::parseHostPort("[::1]:7001");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->port, 7001);
}

TEST(ServeConfigTest, AFileIsReadWithItsCommentsAndEachBadLineIsNamed) {
    TemporaryDir dir;
    const std::string path = dir.filePath("backoffice.conf");
    write(path, "# the training room\n\n  listen = 0.0.0.0:7001  \nworkers=6\n"
                "   # indented comment\ncert =\nempty-database = yes\n");
    const backoffice::Options o = backoffice::readConfigFile(path, backoffice::serveOptions());
    EXPECT_EQ(o.text("listen"), "0.0.0.0:7001");
    EXPECT_EQ(o.number("workers", 0), 6);
    EXPECT_FALSE(o.has("cert")); // empty: none
    EXPECT_TRUE(o.yes("empty-database", false));

    const struct {
        const char* text;
        std::string message;
    } bad[] = {
        {"db = a.db\nwrokers = 2\n", ":2: unknown key 'wrokers'"},
        {"workers = many\n", ":1: workers: 'many' is not a whole number"},
        {"# x\nlisten = 127.0.0.1:99999\n",
         ":2: listen: '127.0.0.1:99999' is not HOST:PORT with a port from 0 to 65535"},
        {"empty-database = true\n", ":1: empty-database: 'true' is neither yes nor no"},
        {"db = a\n\ndb = b\n", ":3: key 'db' given already on line 1"},
        {"listen 127.0.0.1:7001\n", ":1: expected key = value, found 'listen 127.0.0.1:7001'"},
        {"workers =\n", ":1: workers: no value"},
        {"config = other.conf\n", ":1: unknown key 'config'"},
    };
    for (const auto& b : bad) {
        write(path, b.text);
        try {
            backoffice::readConfigFile(path, backoffice::serveOptions());
            ADD_FAILURE() << b.text << " accepted";
        } catch (const backoffice::ConfigError& e) {
            EXPECT_EQ(e.what(), path + b.message);
        }
    }
    EXPECT_THROW(backoffice::readConfigFile(dir.filePath("none.conf"), backoffice::serveOptions()),
                 backoffice::ConfigError);
}

// As a user meets it: the commands refuse bad options with a message naming them, never a
// bare "stoi", and exit with 2.
TEST(ServeConfigTest, TheCommandsRefuseBadOptionsByName) {
    TemporaryDir dir;
    const std::string db = dir.filePath("a.db");
    const struct {
        Arguments args;
        std::string says;
    } cases[] = {
        {{"serve", "--db", db, "--listen", "127.0.0.1:0", "--workers", "four"},
         "--workers: 'four' is not a whole number"},
        {{"serve", "--db", db, "--listen", "127.0.0.1:70001"}, "port from 0 to 65535"},
        {{"serve", "--db", db, "--listen", "127.0.0.1:0", "--max-conections", "5"},
         "unknown option --max-conections"},
        {{"serve", "--db", db}, "serve needs --listen HOST:PORT"},
        {{"seed", "--db", db, "--clients", "1e3"}, "--clients: '1e3' is not a whole number"},
        {{"seed", "--db", db, "--vip-percent", "101", "--clients", "5"}, "out of range (0 to 100)"},
        {{"seed", "--db"}, "option --db needs a value"},
        {{"cert", "--cert", "c.pem", "--key", "k.pem", "--days", "x"},
         "--days: 'x' is not a whole number"},
        {{"cert", "--cert", "c.pem"}, "--key FILE is needed"},
        {{"journal", "--db", db, "--fund-acount", "1"}, "unknown option --fund-acount"},
        {{"operator", "add", "--db", db, "--name", "x", "--branch", "8"},
         "needs one operator number"},
        {{"operator", "passwd", "1001", "--db", db, "--password", "secret123"},
         "unknown option --password"},
    };
    for (const auto& c : cases) {
        const Outcome o = backofficeRun(c.args);
        EXPECT_EQ(o.exitCode, 2) << joined(c.args) << "\n" << o.err;
        EXPECT_TRUE(contains(o.err, c.says)) << joined(c.args) << "\n" << o.err;
        EXPECT_FALSE(contains(o.err, "stoi")) << o.err;
    }
    EXPECT_FALSE(std::filesystem::exists(db));
}

TEST(ServeConfigTest, TheCommandLineOverridesTheFileAndABadFileRefusesToStart) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    const std::string conf = dir.filePath("backoffice.conf");
    // Clear TCP away from loopback is refused: started from the file alone, it fails.
    write(conf, "db = " + db + "\nlisten = 192.0.2.1:0\nworkers = 2\n");
    const Outcome fromFile = backofficeRun({"serve", "--config", conf});
    EXPECT_EQ(fromFile.exitCode, 1);
    EXPECT_TRUE(contains(fromFile.err, "<3>")) << fromFile.err;
    EXPECT_TRUE(contains(fromFile.err, "192.0.2.1")) << fromFile.err;

    ServeProcess server({"--config", conf, "--listen", "127.0.0.1:0"}, dir.filePath("err"));
    ASSERT_NE(server.port(), 0) << server.errors();
    EXPECT_TRUE(contains(server.banner(), "tcp://127.0.0.1:")) << server.banner();
    WireClient counter(server.port(), 5s);
    const auto login = counter.call(loginPacket("1001", "pass1001"));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->code(), 0);

    write(conf, "db = " + db + "\n# limits\nmax-hashes = 0\n");
    const Outcome bad = backofficeRun({"serve", "--config", conf, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(contains(bad.err, "<3>marlo-backoffice: " + conf +
                                      ":3: max-hashes: '0' is out of range (1 to 1024)"))
        << bad.err;
}

TEST(ServeConfigTest, AFirstStartMakesTheDatabaseAndTheCertificate) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    const std::string cert = dir.filePath("tls/server.pem");
    const std::string key = dir.filePath("tls/server.key");
    std::filesystem::create_directory(dir.filePath("tls"));
    const std::string conf = dir.filePath("backoffice.conf");
    write(conf, "db = " + db + "\nlisten = 127.0.0.1:0\ncert = " + cert + "\nkey = " + key +
                    "\ncert-hosts = office.training.lan, 192.0.2.7\nempty-database = yes\n");
    std::string madeCertificate;
    {
        ServeProcess server({"--config", conf}, dir.filePath("err"));
        ASSERT_NE(server.port(), 0) << server.errors();
        EXPECT_TRUE(contains(server.banner(), "tls://127.0.0.1:")) << server.banner();
        const std::string log = server.errors();
        EXPECT_TRUE(contains(log, "<5>made the database " + db + " (empty")) << log;
        EXPECT_TRUE(contains(log, "<5>made a self-signed certificate " + cert)) << log;
        EXPECT_TRUE(contains(log, "office.training.lan")) << log;
        EXPECT_EQ(server.stop(SIGTERM, 10s).exitCode, 0);
        std::ifstream in(cert);
        madeCertificate.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(countIn(db, "SELECT count(*) FROM client"), 0);
    EXPECT_EQ(countIn(db, "SELECT count(*) FROM operator"), 0);
    EXPECT_GT(countIn(db, "SELECT count(*) FROM branch"), 0);
    EXPECT_GT(countIn(db, "SELECT count(*) FROM dictionary"), 0);
    struct stat keyMode {};
    ASSERT_EQ(::stat(key.c_str(), &keyMode), 0);
    EXPECT_EQ(keyMode.st_mode & 0077, 0u);
    EXPECT_FALSE(std::filesystem::exists(db + ".new"));

    // Started again, it keeps both.
    {
        ServeProcess server({"--config", conf}, dir.filePath("err"));
        ASSERT_NE(server.port(), 0) << server.errors();
        EXPECT_FALSE(contains(server.errors(), "made")) << server.errors();
    }
    std::ifstream in(cert);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), madeCertificate);

    // By default the training data; a certificate without its key is not replaced.
    const std::string training = dir.filePath("training.db");
    std::filesystem::remove(key);
    const Outcome half =
        backofficeRun({"serve", "--config", conf, "--db", training, "--empty-database", "no"});
    EXPECT_EQ(half.exitCode, 1);
    EXPECT_TRUE(contains(half.err, "found " + cert + " but not " + key)) << half.err;
    EXPECT_EQ(countIn(training, "SELECT count(*) FROM operator"), 4);
    EXPECT_EQ(countIn(training, "SELECT count(*) FROM client"), 90);
}

// systemd's readiness protocol: READY=1 once it listens, STOPPING=1 on SIGTERM; the log's
// lines carry their priority.
TEST(ServeConfigTest, ItTellsSystemdWhenItIsReadyAndWhenItStops) {
    TemporaryDir dir;
    const std::string socketPath = dir.filePath("notify");
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto next = [&] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) != 1)
            return std::string();
        char buffer[1024];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    };
    const std::string db = dir.filePath("office.db");
    ServeProcess server({"--db", db, "--listen", "127.0.0.1:0"}, dir.filePath("err"),
                        {{"NOTIFY_SOCKET", socketPath}});
    ASSERT_NE(server.port(), 0) << server.errors();
    const std::string ready = next();
    EXPECT_TRUE(contains(ready, "READY=1")) << ready;
    EXPECT_TRUE(contains(ready, "STATUS=serving " + db +
                                    " on tcp://127.0.0.1:" + std::to_string(server.port())))
        << ready;
    // Ready means listening: a counter is served at once.
    WireClient counter(server.port(), 5s);
    ASSERT_TRUE(counter.call(loginPacket("1001", "pass1001")));

    const ServeProcess::Stopped stopped = server.stop(SIGTERM, 10s);
    EXPECT_EQ(next(), "STOPPING=1");
    EXPECT_TRUE(stopped.exited);
    EXPECT_EQ(stopped.exitCode, 0);
    EXPECT_TRUE(contains(server.errors(), "<5>stopping on Terminated")) << server.errors();
    EXPECT_TRUE(contains(server.errors(), "<5>stopped\n")) << server.errors();
    ::close(fd);
}

// SIGTERM while counters write: it exits 0 within a few seconds, every acknowledged write is
// there, nothing was written that was not answered, and the journal holds.
TEST(ServeConfigTest, SigtermDuringWritesLosesNothingAndCommitsNothingUnanswered) {
    TemporaryDir dir;
    const std::string db = dir.filePath("office.db");
    std::int64_t acknowledgedInAll = 0;
    for (int round = 0; round < 3; ++round) {
        // One worker for four busy counters: requests wait in its queue when the stop comes.
        // Strangers guess passwords meanwhile, one hash at a time, so logins wait for a turn
        // at the hash in the strangers' queue too.
        ServeProcess server(
            {"--db", db, "--listen", "127.0.0.1:0", "--workers", "1", "--max-hashes", "1"},
            dir.filePath("err"));
        ASSERT_NE(server.port(), 0) << server.errors();
        std::atomic<int> acknowledged{0};
        std::atomic<int> refused{0};
        std::vector<std::thread> writers;
        for (int w = 0; w < 4; ++w) {
            writers.emplace_back([&] {
                WireClient counter(server.port(), 10s);
                // The guessers fill the strangers' queue, so a login may hear "busy" and
                // tries again, as an operator would.
                for (int tries = 0;; ++tries) {
                    const auto login = counter.call(loginPacket("1001", "pass1001"));
                    if (!login)
                        return;
                    if (login->code() == 0)
                        break;
                    ASSERT_EQ(login->errorNo(), backoffice::errors::busy);
                    ASSERT_LT(tries, 100);
                    std::this_thread::sleep_for(50ms);
                }
                for (;;) {
                    Fields fields = header(730000);
                    fields.push_back({"branch_no", std::int64_t{8}});
                    fields.push_back({"fund_account", std::int64_t{80000003}});
                    fields.push_back({"sync_type", std::int64_t{0}});
                    const auto reply = counter.call(buildPacket(730000, fields));
                    if (!reply)
                        return;
                    if (reply->code() != 0) {
                        EXPECT_EQ(reply->errorNo(), backoffice::errors::busy);
                        ++refused;
                        return;
                    }
                    ++acknowledged;
                }
            });
        }
        std::atomic<bool> stopping{false};
        for (int g = 0; g < 4; ++g) {
            writers.emplace_back([&, g] {
                // From ever new addresses, so no source is slowed down: each guess costs a hash.
                for (int k = 0; !stopping; ++k) {
                    const std::string source =
                        "127.0." + std::to_string(10 + g) + "." + std::to_string(1 + k % 250);
                    WireClient guesser(server.port(), 10s, source.c_str());
                    if (!guesser.call(loginPacket(k % 2 ? "1003" : "1004", "guess")))
                        return;
                }
            });
        }
        while (acknowledged < 20)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(17 * round));
        const ServeProcess::Stopped stopped = server.stop(SIGTERM, 10s);
        stopping = true;
        for (auto& w : writers)
            w.join();
        ASSERT_TRUE(stopped.exited) << "still running after " << stopped.took.count() << " ms";
        EXPECT_EQ(stopped.exitCode, 0);
        EXPECT_LT(stopped.took, 5s);
        acknowledgedInAll += acknowledged;

        EXPECT_EQ(countIn(db, "SELECT count(*) FROM sync_request"), acknowledgedInAll)
            << "round " << round << ", " << refused << " refused";
        EXPECT_EQ(countIn(db, "SELECT count(*) FROM journal WHERE event = 'sync'"),
                  acknowledgedInAll);
        const Outcome verified = backofficeRun({"journal", "verify", "--db", db});
        EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
    }
}
