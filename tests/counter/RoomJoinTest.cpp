// A counter joins a room by the server's fingerprint: a wrong one writes nothing, the right
// one pins the certificate in counter.conf.d, which the counter then reads after
// counter.conf and connects with.

#include "RoomJoin.h"
#include "CounterConfig.h"

#include "Certificate.h"
#include "OfficeService.h"
#include "TcpServer.h"
#include "TcpTransport.h"

#include "protocol/Service.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <thread>

namespace {

struct Ran {
    int exitCode = -1;
    std::string out;
    std::string err;
};

Ran counterRun(const QStringList& arguments) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(COUNTER_EXE), arguments);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitCode(), p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

class RoomJoinTest : public ::testing::Test {
protected:
    void SetUp() override {
        backoffice::makeSelfSignedCertificate(cert, key, {"marlo-office.lan"});
        backoffice::TcpServer::Options options;
        options.certificateFile = cert;
        options.keyFile = key;
        server = std::make_unique<backoffice::TcpServer>(*service, options);
        serving = std::thread([this] { server->run(); });
        address = "tls://127.0.0.1:" + std::to_string(server->port());
    }
    void TearDown() override {
        server->stop();
        serving.join();
    }
    QTemporaryDir dir;
    std::string cert = dir.filePath("office.pem").toStdString();
    std::string key = dir.filePath("office.key").toStdString();
    std::unique_ptr<protocol::PacketService> service =
        protocol::openBackOfficeService(dir.filePath("office.db").toStdString());
    std::unique_ptr<backoffice::TcpServer> server;
    std::thread serving;
    std::string address;
};

} // namespace

TEST_F(RoomJoinTest, AWrongFingerprintWritesNothingAndTheRightOneIsPinnedAndUsed) {
    const std::string fingerprint = backoffice::readCertificateFacts(cert).fingerprint;
    EXPECT_EQ(counter::fetchServerCertificate("127.0.0.1", server->port(), std::chrono::seconds(10))
                  .fingerprint,
              fingerprint);

    const QString base = dir.filePath("counter");
    const Ran wrong =
        counterRun({"--join", QString::fromStdString(address), "--fingerprint",
                    "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "--config-dir", base});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA 不符"),
              std::string::npos)
        << wrong.err;
    EXPECT_NE(wrong.err.find(fingerprint), std::string::npos) << wrong.err;
    EXPECT_FALSE(QDir(base).exists());

    const Ran right = counterRun({"--join", QString::fromStdString(address), "--fingerprint",
                                  QString::fromStdString(fingerprint), "--config-dir", base});
    ASSERT_EQ(right.exitCode, 0) << right.err;
    const auto config = counter::CounterConfig::load(counter::CounterConfig::filesOf(base));
    EXPECT_TRUE(config.errors.isEmpty()) << config.errors.join('\n').toStdString();
    EXPECT_EQ(config.backoffice.toStdString(), address);
    EXPECT_EQ(config.ca, base + "/counter.conf.d/room.pem");
    // The pinned certificate is the one a counter's connection is then held to.
    counter::BackOfficeAddress pinned;
    ASSERT_TRUE(counter::parseBackOfficeAddress(address, pinned));
    pinned.caFile = config.ca.toStdString();
    EXPECT_NO_THROW(counter::TcpTransport{pinned});
}

TEST_F(RoomJoinTest, TheFolderIsReadAfterTheFileInTheOrderOfItsNames) {
    const QString base = dir.filePath("etc");
    QDir().mkpath(base + "/counter.conf.d");
    const auto write = [](const QString& path, const QByteArray& text) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write(base + "/counter.conf", "backoffice = tls://old-room.lan:7001\nca = old.pem\n");
    write(base + "/counter.conf.d/20-room.conf", "backoffice = tls://marlo-office.lan:7001\n");
    write(base + "/counter.conf.d/10-first.conf", "\xEF\xBB\xBF"
                                                  "backoffice = tls://first:1\n");
    write(base + "/counter.conf.d/notes.txt", "not a setting\n");
    const auto config = counter::CounterConfig::load(counter::CounterConfig::filesOf(base));
    EXPECT_TRUE(config.errors.isEmpty()) << config.errors.join('\n').toStdString();
    EXPECT_EQ(config.backoffice, QStringLiteral("tls://marlo-office.lan:7001"));
    EXPECT_EQ(config.ca, base + "/old.pem");
}
