#include "CounterConfig.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class CounterConfigTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& text) {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(CounterConfigTest, TheUsersFileOverridesTheRoomsKeyByKey) {
    const QString room = write("etc/counter.conf", "# the room's server\n"
                                                   "\n"
                                                   "backoffice = tls://office.local:7001\n"
                                                   "  ca=office.pem  \n");
    const QString user = write("home/counter.conf", "backoffice = tls://192.168.1.10:7001\n");
    const auto config =
        counter::CounterConfig::load({room, dir.filePath("nowhere/counter.conf"), user});
    EXPECT_TRUE(config.errors.isEmpty()) << config.errors.join('\n').toStdString();
    EXPECT_EQ(config.backoffice, QStringLiteral("tls://192.168.1.10:7001"));
    // A relative certificate is the neighbour of the file that names it.
    EXPECT_EQ(config.ca, dir.filePath("etc/office.pem"));

    const auto roomOnly = counter::CounterConfig::load({room});
    EXPECT_EQ(roomOnly.backoffice, QStringLiteral("tls://office.local:7001"));
    const auto none = counter::CounterConfig::load({dir.filePath("nowhere/counter.conf")});
    EXPECT_TRUE(none.backoffice.isEmpty());
    EXPECT_TRUE(none.errors.isEmpty());
}

TEST_F(CounterConfigTest, ABadLineIsNamedWithItsFileAndLine) {
    const QString file = write("counter.conf", "backofice = tls://office.local:7001\n"
                                               "ca = /etc/marlo/office.pem\n"
                                               "tls://office.local:7001\n");
    const auto config = counter::CounterConfig::load({file});
    ASSERT_EQ(config.errors.size(), 2);
    EXPECT_EQ(config.errors[0], file + QStringLiteral(":1: unknown key \"backofice\" (known: "
                                                      "backoffice, ca)"));
    EXPECT_EQ(config.errors[1], file + QStringLiteral(":3: not a \"key = value\" line"));
    EXPECT_EQ(config.ca, QStringLiteral("/etc/marlo/office.pem"));
}

} // namespace
