#include "PrivateCups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char queueName[] = "MarloVoucherPDF";
constexpr char pdfModel[] = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd";

bool writeText(const QString& path, const QString& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) == text.toUtf8().size();
}

int freeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// Where the PDF queue puts the jobs of this process's user.
QString pdfFolder() {
    const passwd* user = getpwuid(geteuid());
    return QString::fromLocal8Bit(user != nullptr ? user->pw_dir : "/root") + "/PDF";
}

// The standard output of a program that succeeded; empty otherwise.
QString run(const char* program, const QStringList& arguments) {
    QProcess process;
    process.start(QString::fromLatin1(program), arguments);
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

PrivateCups::PrivateCups() {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return;
    }
    const QString root = dir_.path();
    // The filters run as the scheduler's own user and write their temporary files here.
    chmod(root.toLocal8Bit().constData(), 0755);
    for (const char* sub : {"spool", "cache", "state", "log", "tmp", "ppd"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    chmod((root + "/tmp").toLocal8Bit().constData(), 01777);
    port_ = freeLoopbackPort();
    const QString conf =
        QStringLiteral("Listen 127.0.0.1:%1\n"
                       "Listen %2/cups.sock\n"
                       "LogLevel warn\n"
                       "Browsing Off\n"
                       "WebInterface No\n"
                       "DefaultAuthType None\n"
                       "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                       "<Location /admin>\n  Order allow,deny\n  Allow all\n"
                       "</Location>\n"
                       "<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                       "  </Limit>\n</Policy>\n")
            .arg(port_)
            .arg(root);
    const QString files = QStringLiteral("ServerRoot %1\n"
                                         "RequestRoot %1/spool\n"
                                         "CacheDir %1/cache\n"
                                         "StateDir %1/state\n"
                                         "TempDir %1/tmp\n"
                                         "ErrorLog %1/log/error_log\n"
                                         "AccessLog %1/log/access_log\n"
                                         "PageLog %1/log/page_log\n"
                                         "ServerBin /usr/lib/cups\n"
                                         "DataDir /usr/share/cups\n")
                              .arg(root);
    if (port_ == 0 || !writeText(root + "/cupsd.conf", conf) ||
        !writeText(root + "/cups-files.conf", files)) {
        error_ = QStringLiteral("cannot write the scheduler's configuration");
        return;
    }
    // A copy of the scheduler: a confinement profile of the system's service, which knows
    // only the system's own folders, attaches to the installed program's path.
    const QString program = root + "/cupsd";
    if (!QFile::copy(QStringLiteral("/usr/sbin/cupsd"), program) ||
        !QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner)) {
        error_ = QStringLiteral("cannot copy /usr/sbin/cupsd");
        return;
    }
    cupsd_.setProcessChannelMode(QProcess::MergedChannels);
    cupsd_.start(program, {"-f", "-c", root + "/cupsd.conf", "-s", root + "/cups-files.conf"});
    if (!cupsd_.waitForStarted(5000)) {
        error_ = QStringLiteral("cupsd did not start: ") + cupsd_.errorString();
        return;
    }
    // Up once its socket answers.
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        QLocalSocket probe;
        probe.connectToServer(root + "/cups.sock");
        if (probe.waitForConnected(200))
            return;
        if (cupsd_.state() == QProcess::NotRunning)
            break;
        QThread::msleep(50);
    }
    error_ = QStringLiteral("cupsd is not answering: ") + QString::fromLocal8Bit(cupsd_.readAll());
}

PrivateCups::~PrivateCups() {
    if (cupsd_.state() != QProcess::NotRunning) {
        cupsd_.terminate();
        if (!cupsd_.waitForFinished(10000)) {
            cupsd_.kill();
            cupsd_.waitForFinished(5000);
        }
    }
}

QString PrivateCups::server() const {
    return dir_.path() + "/cups.sock";
}

bool PrivateCups::admin(const QStringList& arguments) {
    return runAdmin(QStringLiteral("/usr/sbin/lpadmin"), arguments);
}

bool PrivateCups::runAdmin(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, QStringList{"-h", server()} + arguments);
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0) {
        error_ =
            program + ' ' + arguments.join(' ') + ": " + QString::fromLocal8Bit(tool.readAll());
        return false;
    }
    return true;
}

bool PrivateCups::RefuseJobs(const QString& reason) {
    return runAdmin(QStringLiteral("/usr/sbin/cupsreject"), {"-r", reason, queueName});
}

bool PrivateCups::StopQueue(const QString& reason) {
    return runAdmin(QStringLiteral("/usr/sbin/cupsdisable"), {"-r", reason, queueName});
}

bool PrivateCups::AddPdfQueue() {
    // Poppler's cairo renderer keeps the text of the PDF the toolkit sends, Chinese too,
    // through the queue's PostScript step.
    return admin({"-p", queueName, "-v", "cups-pdf:/", "-P", pdfModel, "-o",
                  "pdftops-renderer-default=pdftocairo", "-E"}) &&
           admin({"-d", queueName});
}

bool PrivateCups::RemoveQueues() {
    QProcess lpstat;
    lpstat.start(QStringLiteral("/usr/bin/lpstat"), {"-h", server(), "-p"});
    lpstat.waitForFinished(20000);
    const QString listing = QString::fromLocal8Bit(lpstat.readAllStandardOutput());
    for (const QString& line : listing.split('\n', Qt::SkipEmptyParts)) {
        const QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (words.size() >= 2 && words[0] == QStringLiteral("printer") && !admin({"-x", words[1]}))
            return false;
    }
    return true;
}

PrivateCups::Pdf PrivateCups::TakePdf(const QString& title, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QDir folder(pdfFolder());
        for (const QFileInfo& pdf : folder.entryInfoList({"*.pdf"}, QDir::Files)) {
            if (!pdf.fileName().contains(title))
                continue;
            const QString text =
                run("/usr/bin/pdftotext", {"-layout", pdf.absoluteFilePath(), "-"});
            // The queue may still be writing the file.
            if (text.trimmed().isEmpty())
                continue;
            Pdf out{text, {}};
            const QString info = run("/usr/bin/pdfinfo", {pdf.absoluteFilePath()});
            const QRegularExpression size(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+)"));
            const QRegularExpression rotation(QStringLiteral("Page rot:\\s+([0-9]+)"));
            const auto s = size.match(info);
            if (s.hasMatch()) {
                out.pageSize = QSizeF(s.captured(1).toDouble(), s.captured(2).toDouble());
                if (rotation.match(info).captured(1).toInt() % 180 == 90)
                    out.pageSize.transpose();
            }
            QFile::remove(pdf.absoluteFilePath());
            return out;
        }
        QThread::msleep(100);
    }
    return {};
}
