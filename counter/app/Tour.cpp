#include "Tour.h"

#include "AccountTour.h"
#include "LoginDialog.h"
#include "MainWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>

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

void Tour::vipListSteps(QWidget& window, QWidget& form) {
    // The operator's way through the list: scrolling to its end, twice.
    auto* list = form.findChild<QAbstractItemView*>(QStringLiteral("lvVipClientInfo"));
    if (!list) {
        note(QStringLiteral("  no VIP list on the form"));
        return;
    }
    for (int page = 0; page < 2; ++page) {
        const int rows = list->model()->rowCount();
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        QApplication::processEvents();
        note(QStringLiteral("  page %1: %2 rows, now %3")
                 .arg(page + 2)
                 .arg(rows)
                 .arg(list->model()->rowCount()));
    }
    save(window, QStringLiteral("730105-paged"));

    // The condition dialog: branch 9 only.
    auto* query = form.findChild<QPushButton*>(QStringLiteral("hbtQuery"));
    if (!query)
        return;
    QTimer::singleShot(0, &form, [this] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) {
            note(QStringLiteral("  no condition dialog"));
            return;
        }
        auto* branches = dialog->findChild<QComboBox*>(QStringLiteral("hccmbBranchNo"));
        auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("hbtnOK"));
        if (branches) {
            for (int row = 0; row < branches->model()->rowCount(); ++row) {
                const QModelIndex item = branches->model()->index(row, 0);
                const bool nine = item.data().toString().startsWith(QStringLiteral("9|"));
                branches->model()->setData(item, nine ? Qt::Checked : Qt::Unchecked,
                                           Qt::CheckStateRole);
            }
        }
        save(*dialog, QStringLiteral("730105-conditions"));
        if (ok)
            ok->click();
    });
    query->click();
    int branch9 = 0;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        branch9 += list->model()->index(row, 0).data().toString() == QStringLiteral("上海营业部");
    note(QStringLiteral("  filtered by branch 9: %1 rows, %2 of them 上海营业部")
             .arg(list->model()->rowCount())
             .arg(branch9));
    save(window, QStringLiteral("730105-branch-9"));
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
            if (f.menuCode == 730105)
                if (QWidget* form = window.tabs()->currentWidget())
                    vipListSteps(window, *form);
            if (f.menuCode == 730101)
                if (QWidget* form = window.tabs()->currentWidget())
                    AccountTour(
                        window, *form, [this](const QString& line) { note(line); },
                        [this](QWidget& w, const QString& name) { save(w, name); })
                        .syncSteps();
            if (f.menuCode >= 730102 && f.menuCode <= 730104)
                if (QWidget* form = window.tabs()->currentWidget())
                    AccountTour(
                        window, *form, [this](const QString& line) { note(line); },
                        [this](QWidget& w, const QString& name) { save(w, name); })
                        .vipSteps(f.menuCode);
        } else {
            note(QStringLiteral("%1 %2: the module served no form for it")
                     .arg(f.menuCode)
                     .arg(caption));
        }
    }
    note(QStringLiteral("functions opened: %1 of %2").arg(opened).arg(host_.functions().size()));
    // Leaving with input on a form asks first: the tour shows the question and quits.
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, &answer, [this, &answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->objectName() != QLatin1String("quitQuestion"))
            return;
        answer.stop();
        note(QStringLiteral("quit: %1")
                 .arg(box->text().replace(QLatin1Char('\n'), QLatin1Char(' '))));
        save(*box, QStringLiteral("quit-question"));
        for (QAbstractButton* button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::YesRole)
                button->click();
        }
    });
    answer.start();
    window.close();

    QFile summary(dir_.filePath(QStringLiteral("summary.txt")));
    if (summary.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QTextStream out(&summary);
        out << summary_.join(QLatin1Char('\n')) << '\n';
    }
    return 0;
}

} // namespace counter
