#include "CounterConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>

namespace counter {

QStringList CounterConfig::filesOf(const QString& base) {
    QStringList files{base + QStringLiteral("/counter.conf")};
    const QDir folder(base + QStringLiteral("/counter.conf.d"));
    for (const QString& name :
         folder.entryList({QStringLiteral("*.conf")}, QDir::Files | QDir::Readable, QDir::Name))
        files << folder.filePath(name);
    return files;
}

QStringList CounterConfig::defaultFiles() {
    return filesOf(QStringLiteral(MARLO_CONF_DIR)) +
           filesOf(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                   QStringLiteral("/marlo"));
}

CounterConfig CounterConfig::load(const QStringList& files) {
    CounterConfig config;
    for (const QString& name : files) {
        QFile file(name);
        if (!file.exists())
            continue;
        if (!file.open(QIODevice::ReadOnly)) {
            config.errors << QStringLiteral("%1: cannot be read: %2").arg(name, file.errorString());
            continue;
        }
        int lineNo = 0;
        while (!file.atEnd()) {
            ++lineNo;
            QString line = QString::fromUtf8(file.readLine()).trimmed();
            // An editor may begin the file with a byte-order mark.
            if (lineNo == 1 && line.startsWith(QChar(0xFEFF)))
                line = line.mid(1).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const auto where = QStringLiteral("%1:%2: ").arg(name).arg(lineNo);
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals < 0) {
                config.errors << where + QStringLiteral("not a \"key = value\" line");
                continue;
            }
            const QString key = line.left(equals).trimmed();
            const QString value = line.mid(equals + 1).trimmed();
            if (key == QLatin1String("backoffice")) {
                config.backoffice = value;
            } else if (key == QLatin1String("ca")) {
                // A relative certificate path is the file's neighbour, wherever the counter
                // was started from.
                config.ca =
                    value.isEmpty() ? value : QFileInfo(name).absoluteDir().absoluteFilePath(value);
            } else {
                config.errors
                    << where +
                           QStringLiteral("unknown key \"%1\" (known: backoffice, ca)").arg(key);
            }
        }
    }
    return config;
}

void reportConfigErrors(const QStringList& errors, bool dialog) {
    for (const QString& e : errors)
        std::fprintf(stderr, "marlo-counter: %s\n", qPrintable(e));
    if (!dialog || errors.isEmpty())
        return;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("证券柜台"),
                    QStringLiteral("柜台配置文件有误，柜台无法启动。请联系管理员改正后再试。"));
    box.setDetailedText(errors.join(QLatin1Char('\n')));
    box.exec();
}

} // namespace counter
