// marlo-counter: the counter-client host. It loads the module, logs an operator in against
// the back office (embedded by default, or a server over TCP) and embeds the module's
// forms. Without a display, or with --tour DIR, it runs the offscreen tour.

#include "CounterConfig.h"
#include "CounterHost.h"
#include "HostClasses.h"
#include "LoginDialog.h"
#include "MainWindow.h"
#include "ModuleLoader.h"
#include "PlatformNotices.h"
#include "QtTranslations.h"
#include "Tour.h"
#include "TranscriptTransport.h"

#if defined(_WIN32)
#include "ScriptedTransport.h"
#else
#include "EmbeddedTransport.h"
#include "RoomJoin.h"
#include "StartupConnect.h"
#include "TcpTransport.h"

#include "protocol/Service.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

namespace {

bool hasDisplay() {
#if defined(_WIN32)
    return true; // the desktop is always there
#else
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
#endif
}

// The training operator the embedded training data comes with.
const char* trainingOperator = "1001";
const char* trainingPassword = "pass1001";

#if !defined(_WIN32)
// --join: fetches the server's certificate, holds it to the fingerprint (or shows it and
// asks), and writes the room's file. Nothing is written unless the fingerprint is the one
// the administrator vouches for.
int joinRoom(const QString& address, const QString& fingerprint, const QString& base) {
    counter::BackOfficeAddress where;
    if (!counter::parseBackOfficeAddress(address.toStdString(), where) || !where.tls) {
        std::fprintf(stderr, "marlo-counter: --join wants tls://HOST:PORT\n");
        return 2;
    }
    try {
        const counter::ServerCertificate server =
            counter::fetchServerCertificate(where.host, where.port, std::chrono::seconds(10));
        if (fingerprint.isEmpty()) {
            std::printf("服务器 %s 的证书指纹：\n  %s\n请与服务器上 marlo-backoffice status "
                        "显示的指纹逐字核对。相符请输入 yes 加入，否则直接回车放弃：",
                        qPrintable(address), server.fingerprint.c_str());
            std::fflush(stdout);
            std::string answer;
            if (!std::getline(std::cin, answer) || (answer != "yes" && answer != "是")) {
                std::printf("未加入，什么也没有写。\n");
                return 1;
            }
        } else if (!counter::sameFingerprint(fingerprint.toStdString(), server.fingerprint)) {
            std::fprintf(stderr,
                         "marlo-counter: 服务器 %s 出示的证书指纹是 %s，与给出的 %s 不符：它可能"
                         "不是教室的后台，或者后台换了证书。什么也没有写。请在服务器上用 "
                         "marlo-backoffice status 查看指纹。\n",
                         qPrintable(address), server.fingerprint.c_str(), qPrintable(fingerprint));
            return 1;
        }
        const std::string conf = counter::writeRoomConfig(
            base.isEmpty() ? counter::defaultConfigBase() : base.toStdString(),
            address.toStdString(), server.pem);
        std::printf("已加入 %s（证书 %s），写入 %s\n", qPrintable(address),
                    server.fingerprint.c_str(), conf.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "marlo-counter: %s；什么也没有写。\n", e.what());
        return 1;
    }
}
#endif

} // namespace

int main(int argc, char** argv) {
    bool tour = false;
    for (int i = 1; i < argc; ++i)
        tour = tour || std::string(argv[i]) == "--tour";
    if ((tour || !hasDisplay()) && std::getenv("QT_QPA_PLATFORM") == nullptr)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tour's terminal shows the tour's own lines, not what the offscreen platform lacks.
    std::optional<counter::QuietPlatformNotices> quiet;
    if (tour || !hasDisplay())
        quiet.emplace();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("marlo-counter"));
    // Every dialog of the counter and of the module in it speaks Chinese, Qt's own too.
    const counter::QtTranslations chinese;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("C_Marlo counter-client host"));
    parser.addHelpOption();
    QApplication::setApplicationVersion(QStringLiteral(MARLO_VERSION));
    parser.addVersionOption();
    const QCommandLineOption moduleOption(
        QStringLiteral("module"), QStringLiteral("The module library."), QStringLiteral("PATH"),
        counter::ModuleLoader::defaultPath());
    const QCommandLineOption backofficeOption(
        QStringLiteral("backoffice"),
        QStringLiteral("A back-office server, tls://HOST:PORT, or tcp://HOST:PORT on this "
                       "machine (default: embedded)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption caOption(
        QStringLiteral("ca"),
        QStringLiteral("For tls://: the certificate the back office must present."),
        QStringLiteral("FILE"));
    const QCommandLineOption dbOption(
        QStringLiteral("db"),
        QStringLiteral("The embedded back office's database (default: fresh training data)."),
        QStringLiteral("FILE"));
    const QCommandLineOption transcriptOption(
        QStringLiteral("transcript"), QStringLiteral("Write every request and reply to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption tourOption(QStringLiteral("tour"),
                                        QStringLiteral("Run the offscreen tour into DIR."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption operatorOption(
        QStringLiteral("operator"), QStringLiteral("Operator number."), QStringLiteral("NO"),
        QString::fromLatin1(trainingOperator));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
                                            QStringLiteral("Operator password."),
                                            QStringLiteral("PASSWORD"));
    const QCommandLineOption inputOption(
        QStringLiteral("client-input"),
        QStringLiteral("The preferred kind of client entry (1 asset account, 6 client number)."),
        QStringLiteral("CODE"), QStringLiteral("1"));
    const QCommandLineOption joinOption(
        QStringLiteral("join"),
        QStringLiteral("Join the training room whose back office is at tls://HOST:PORT: pin its "
                       "certificate in counter.conf.d and name it there."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption fingerprintOption(
        QStringLiteral("fingerprint"),
        QStringLiteral("With --join: the SHA256:... fingerprint marlo-backoffice status shows on "
                       "the server; without it the counter shows the one it got and asks."),
        QStringLiteral("SHA256"));
    const QCommandLineOption configDirOption(
        QStringLiteral("config-dir"),
        QStringLiteral("Read DIR/counter.conf and DIR/counter.conf.d/*.conf instead of the "
                       "system's and the user's; --join writes there."),
        QStringLiteral("DIR"));
    parser.addOptions({moduleOption, backofficeOption, caOption, dbOption, transcriptOption,
                       tourOption, operatorOption, passwordOption, inputOption, joinOption,
                       fingerprintOption, configDirOption});
    parser.process(app);
    if (parser.isSet(joinOption)) {
#if defined(_WIN32)
        std::fprintf(stderr, "marlo-counter: --join is not on this platform\n");
        return 2;
#else
        return joinRoom(parser.value(joinOption), parser.value(fingerprintOption),
                        parser.value(configDirOption));
#endif
    }

    // The room's and the user's files name the back office; the options override them, and
    // --db alone asks for the embedded one.
    const counter::CounterConfig config =
        parser.isSet(configDirOption)
            ? counter::CounterConfig::load(
                  counter::CounterConfig::filesOf(parser.value(configDirOption)))
            : counter::CounterConfig::load();
    if (!config.errors.isEmpty()) {
        counter::reportConfigErrors(config.errors, hasDisplay() && !tour);
        return 2;
    }
    const QString backoffice = parser.isSet(backofficeOption) ? parser.value(backofficeOption)
                               : parser.isSet(dbOption)       ? QString()
                                                              : config.backoffice;
    const QString ca = parser.isSet(caOption) ? parser.value(caOption) : config.ca;

    const bool touring = parser.isSet(tourOption) || !hasDisplay();
    const QString tourDir =
        parser.isSet(tourOption) ? parser.value(tourOption) : QStringLiteral("tour");
    if (touring && !QDir().mkpath(tourDir)) {
        std::fprintf(stderr, "marlo-counter: cannot make %s\n", qPrintable(tourDir));
        return 1;
    }

    if (hr::failed(counter::registerHostClasses())) {
        std::fprintf(stderr, "marlo-counter: cannot register the host classes\n");
        return 1;
    }
    try {
        const QString transcript = parser.isSet(transcriptOption) ? parser.value(transcriptOption)
                                   : touring
                                       ? QDir(tourDir).filePath(QStringLiteral("transcript.jsonl"))
                                       : QString();
        if (!transcript.isEmpty())
            QFile::remove(transcript);
        std::unique_ptr<counter::Transport> transport;
        QTemporaryDir scratch;
        const bool embedded = backoffice.isEmpty();
#if defined(_WIN32)
        // The Windows build has neither the back office nor the network: its link is a
        // script with no answers, so every request is refused with the script's error.
        if (!embedded || parser.isSet(dbOption)) {
            std::fprintf(stderr, "marlo-counter: this build has no back office "
                                 "(--backoffice and --db are not on this platform)\n");
            return 2;
        }
        transport =
            std::make_unique<counter::ScriptedTransport>(std::make_shared<counter::Script>());
#else
        if (embedded) {
            const QString db = parser.isSet(dbOption)
                                   ? parser.value(dbOption)
                                   : scratch.filePath(QStringLiteral("training.db"));
            transport = std::make_unique<counter::EmbeddedTransport>(
                std::shared_ptr<protocol::PacketService>(
                    protocol::openBackOfficeService(db.toStdString())));
        } else {
            counter::BackOfficeAddress address;
            if (!counter::parseBackOfficeAddress(backoffice.toStdString(), address)) {
                std::fprintf(stderr, "marlo-counter: --backoffice wants tls://HOST:PORT or "
                                     "tcp://HOST:PORT\n");
                return 2;
            }
            if (address.tls && ca.isEmpty()) {
                std::fprintf(stderr, "marlo-counter: tls:// wants --ca FILE, the certificate "
                                     "the back office must present\n");
                return 2;
            }
            address.caFile = ca.toStdString();
            const auto connect = [&]() -> std::unique_ptr<counter::Transport> {
                return std::make_unique<counter::TcpTransport>(address,
                                                               &counter::paintWhileWaiting);
            };
            // On a display the operator sees why the back office is not there and may retry.
            // The technical reason of each failed attempt goes to the transcript.
            const auto failed = [&](const QString& reason) {
                if (!transcript.isEmpty())
                    counter::appendTranscriptLine(
                        transcript.toStdString(),
                        counter::transcriptConnectFailure(backoffice.toStdString(),
                                                          reason.toStdString()));
            };
            transport = touring ? connect() : counter::connectOrAsk(connect, {}, failed);
            if (!transport)
                return 1;
        }
#endif
        if (!transcript.isEmpty()) {
            transport = std::make_unique<counter::TranscriptTransport>(std::move(transport),
                                                                       transcript.toStdString());
        }
        counter::CounterHost host(std::move(transport));
        counter::ModuleLoader module(parser.value(moduleOption));

        // The training operator's password is prefilled only on the training data.
        const bool training = embedded && !parser.isSet(dbOption);
        const QString password = parser.isSet(passwordOption) ? parser.value(passwordOption)
                                 : training ? QString::fromLatin1(trainingPassword)
                                            : QString();
        const QString clientInput = parser.value(inputOption);

        if (touring) {
            counter::Tour t(host, module, QDir(tourDir));
            const int code = t.run(parser.value(operatorOption), password, clientInput);
            if (!transcript.isEmpty())
                std::printf("transcript: %s\n", qPrintable(transcript));
            return code;
        }
        counter::LoginDialog login([&](const QString& op, const QString& pw) {
            return QString::fromStdString(
                host.login(op.toStdString(), pw.toStdString(), clientInput.toStdString()));
        });
        login.prefill(parser.value(operatorOption), password);
        if (login.exec() != QDialog::Accepted)
            return 0;
        counter::MainWindow window(host, module);
        window.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "marlo-counter: %s\n", e.what());
        return 1;
    }
}
