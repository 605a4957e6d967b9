#include "Tour.h"

#include "LoginDialog.h"
#include "MainWindow.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTabWidget>
#include <QTextStream>

#include <cstdio>

namespace counter {

Tour::Tour(CounterHost& host, ModuleLoader& module, const QDir& dir)
    : host_(host), module_(module), dir_(dir) {}

void Tour::note(const QString& line) {
    summary_ << line;
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void Tour::save(QWidget& widget, const QString& name) {
    widget.show();
    QApplication::processEvents();
    const QString file = dir_.filePath(
        QStringLiteral("%1-%2.png").arg(++pictures_, 2, 10, QLatin1Char('0')).arg(name));
    if (widget.grab().save(file))
        note(QStringLiteral("  screen: %1").arg(file));
    else
        note(QStringLiteral("  could not save %1").arg(file));
}

int Tour::run(const QString& operatorNo, const QString& password, const QString& clientInput) {
    note(QStringLiteral("C_Marlo tour into %1").arg(dir_.absolutePath()));
    note(QStringLiteral("module: %1").arg(module_.devInfo()));

    LoginDialog login([&](const QString& op, const QString& pw) {
        return QString::fromStdString(
            host_.login(op.toStdString(), pw.toStdString(), clientInput.toStdString()));
    });
    login.prefill(operatorNo, password);
    save(login, QStringLiteral("login"));
    if (!login.tryLogin()) {
        save(login, QStringLiteral("login-refused"));
        note(QStringLiteral("login refused for operator %1").arg(operatorNo));
        return 1;
    }
    login.hide();
    note(QStringLiteral("login: operator %1 %2, branch %3")
             .arg(operatorNo, QString::fromStdString(host_.operatorName()))
             .arg(host_.branchNo()));

    MainWindow window(host_, module_);
    save(window, QStringLiteral("counter"));
    if (QMenu* business = window.businessMenu()) {
        save(*business, QStringLiteral("menu"));
        business->hide();
    }
    int opened = 0;
    for (const MenuFunction& f : host_.functions()) {
        const QString caption = QString::fromStdString(f.caption);
        if (window.openFunction(f.menuCode)) {
            ++opened;
            note(QStringLiteral("%1 %2: opened").arg(f.menuCode).arg(caption));
            save(window, QString::number(f.menuCode));
        } else {
            note(QStringLiteral("%1 %2: the module served no form for it")
                     .arg(f.menuCode)
                     .arg(caption));
        }
    }
    note(QStringLiteral("functions opened: %1 of %2").arg(opened).arg(host_.functions().size()));
    window.close();

    QFile summary(dir_.filePath(QStringLiteral("summary.txt")));
    if (summary.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QTextStream out(&summary);
        out << summary_.join(QLatin1Char('\n')) << '\n';
    }
    return 0;
}

} // namespace counter
