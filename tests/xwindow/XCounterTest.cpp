// The counter as an operator uses it, in the X window: the module loaded at run time, its
// forms in the counter's tabs, the menu worked by keys. A function chosen again from the
// menu starts afresh at its identifier edit, a character typed on a button is refused with
// the bell, and 退出 asks before input not yet sent is lost.
#include "XSession.h"

#include "HostClasses.h"
#include "MainWindow.h"
#include "ModuleLoader.h"
#include "TranscriptHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

class XCounterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        ASSERT_TRUE(dir.isValid());
        transcript = dir.filePath("transcript.jsonl");
        host = transcriptHost(dir.filePath("office.db"), transcript);
        ASSERT_EQ(host->login("1001", "pass1001", "1"), "");
        module = std::make_unique<counter::ModuleLoader>(counter::ModuleLoader::defaultPath());
        window = std::make_unique<counter::MainWindow>(*host, *module);
        // The module's message boxes are answered with OK as they come, their texts kept;
        // the question of 退出 is left to the test.
        answering.setInterval(10);
        QObject::connect(&answering, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box->objectName() == QLatin1String("quitQuestion"))
                return;
            messages << box->text();
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        });
        answering.start();
        window->show();
        ASSERT_TRUE(xwindow::activate(window.get()));
    }
    void TearDown() override {
        answering.stop();
        window.reset();
        module.reset();
        host.reset();
        counter::unregisterHostClasses();
    }

    // The form on the tab in front.
    QWidget* form() const {
        auto* page = qobject_cast<QScrollArea*>(window->tabs()->currentWidget());
        return page ? page->widget() : nullptr;
    }
    template <class W> W* control(const char* name) const {
        QWidget* f = form();
        return f ? f->findChild<W*>(QString::fromLatin1(name)) : nullptr;
    }
    bool focusOn(const char* name) {
        return xwindow::waitFor([&] {
            QWidget* focus = QApplication::focusWidget();
            return focus && focus->objectName() == QLatin1String(name) && form() &&
                   form()->isAncestorOf(focus);
        });
    }

    // Chooses the function from the 业务 menu by keys, as the operator does.
    void choose(std::int32_t menuCode) {
        ASSERT_TRUE(xwindow::keys({"alt+b"}));
        QMenu* menu = window->businessMenu();
        ASSERT_TRUE(xwindow::waitFor([&] { return menu->isVisible(); }));
        const QString code = QString::number(menuCode);
        for (int step = 0; step < menu->actions().size(); ++step) {
            if (menu->activeAction() && menu->activeAction()->text().startsWith(code))
                break;
            ASSERT_TRUE(xwindow::keys({"Down"}));
            xwindow::waitFor([&] { return menu->activeAction() != nullptr; }, 1000);
        }
        ASSERT_TRUE(menu->activeAction() && menu->activeAction()->text().startsWith(code));
        ASSERT_TRUE(xwindow::keys({"Return"}));
        ASSERT_TRUE(xwindow::waitFor([&] { return !menu->isVisible(); }));
    }

    // The requests of the function sent so far, as their transcript lines.
    QList<QByteArray> requestsOf(int function) {
        QFile file(transcript);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QList<QByteArray> found;
        const QByteArray tag = "\"function\":" + QByteArray::number(function);
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.contains("\"dir\":\"request\"") && line.contains(tag))
                found << line;
        }
        return found;
    }

    QTemporaryDir dir;
    QString transcript;
    std::unique_ptr<counter::CounterHost> host;
    std::unique_ptr<counter::ModuleLoader> module;
    std::unique_ptr<counter::MainWindow> window;
    QTimer answering;
    QStringList messages;
};

} // namespace

TEST_F(XCounterTest, AFunctionChosenAgainStartsAfreshAndSendsNothingForTheClientLeftOnIt) {
    xwindow::BellCounter bells;
    ASSERT_TRUE(bells.listening());
    ASSERT_TRUE(window->openFunction(730102));
    auto* edit = control<QLineEdit>("hedQzID");
    ASSERT_NE(edit, nullptr);
    ASSERT_TRUE(xwindow::click(edit));
    ASSERT_TRUE(focusOn("hedQzID"));
    ASSERT_TRUE(xwindow::type("80000001"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(focusOn("hedDicrate"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(focusOn("btnOk"));

    // A character typed on 确定 goes nowhere, and the bell says so.
    const int before = bells.rung();
    ASSERT_TRUE(xwindow::type("7"));
    EXPECT_TRUE(xwindow::waitFor([&] { return bells.rung() > before; }, 3000))
        << "no bell for a digit typed on a button";
    EXPECT_TRUE(focusOn("btnOk"));

    // 业务 → 730102 again: the identifier edit, its text selected, the client still shown.
    choose(730102);
    ASSERT_TRUE(focusOn("hedQzID"))
        << "the focus stayed on " << QApplication::focusWidget()->objectName().toStdString();
    EXPECT_EQ(edit->selectedText(), edit->text());
    EXPECT_EQ(control<QLabel>("lbFundAcco")->text(), "80000001") << "the look-up is kept";

    // The next client typed over it, and Enter: a look-up of that client, nothing sent for
    // the one before.
    ASSERT_TRUE(xwindow::type("80000002"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    EXPECT_TRUE(
        xwindow::waitFor([&] { return control<QLabel>("lbFundAcco")->text() == "80000002"; }));
    xwindow::spin(300);
    EXPECT_TRUE(requestsOf(730001).isEmpty()) << messages.join(" / ").toStdString();
    EXPECT_FALSE(messages.contains(QStringLiteral("操作成功！")));
}

TEST_F(XCounterTest, QuittingWithInputNotYetSentAsksFirstAndNoKeepsTheCounter) {
    ASSERT_TRUE(window->openFunction(730101));
    ASSERT_TRUE(window->openFunction(730102));
    ASSERT_TRUE(xwindow::click(control<QLineEdit>("hedQzID")));
    ASSERT_TRUE(focusOn("hedQzID"));
    ASSERT_TRUE(xwindow::type("8000"));

    // 系统 → 退出 by keys; the question is read and answered with Enter (否, the default)
    // from inside its own modal loop.
    QString asked;
    bool defaultIsNo = false;
    xwindow::Child pressing;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->objectName() != QLatin1String("quitQuestion") ||
            !box->isActiveWindow())
            return;
        answer.stop();
        asked = box->text();
        defaultIsNo = box->defaultButton() &&
                      box->buttonRole(box->defaultButton()) == QMessageBox::NoRole &&
                      box->defaultButton()->text().startsWith(QStringLiteral("否"));
        xwindow::grabWindow(box, "x-counter-quit-question");
        EXPECT_TRUE(window->isVisible()) << "the counter went before the answer";
        pressing = xwindow::xdotoolLater({"key", "Return"});
    });
    answer.start();
    ASSERT_TRUE(xwindow::keys({"alt+s"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return window->menuBar()->activeAction() != nullptr; }));
    ASSERT_TRUE(xwindow::keys({"x"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return !asked.isEmpty(); }));
    EXPECT_TRUE(asked.contains(QStringLiteral("730102 VIP客户开户"))) << asked.toStdString();
    EXPECT_FALSE(asked.contains(QStringLiteral("730101"))) << "730101 holds no input";
    EXPECT_TRUE(defaultIsNo);
    ASSERT_TRUE(xwindow::waitFor([] { return QApplication::activeModalWidget() == nullptr; }));
    xwindow::spin(200);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(control<QLineEdit>("hedQzID")->text(), "8000");

    // Nothing typed anywhere: 退出 quits without a question.
    ASSERT_TRUE(xwindow::click(control<QLineEdit>("hedQzID")));
    ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
    asked.clear();
    answer.start();
    ASSERT_TRUE(xwindow::keys({"alt+s"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return window->menuBar()->activeAction() != nullptr; }));
    ASSERT_TRUE(xwindow::keys({"x"}));
    EXPECT_TRUE(xwindow::waitFor([&] { return !window->isVisible(); }));
    EXPECT_TRUE(asked.isEmpty());
    answer.stop();
}
