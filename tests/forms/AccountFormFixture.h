#pragma once
// An account form on the counter's real host objects and the embedded training back office,
// driven as an operator drives it, with the transcript of every request to read back.

#include "ScriptedDialogs.h"
#include "TranscriptHost.h"

#include "AccountForm.h"
#include "C_Marlo.h"
#include "CounterHost.h"
#include "HostClasses.h"
#include "TQZIDEdit.h"
#include "TQZSwitchLabel.h"
#include "protocol/Service.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

// One request of the transcript: its fields in order.
struct SentRequest {
    std::vector<std::pair<QString, QJsonValue>> fields;

    QStringList names() const {
        QStringList n;
        for (const auto& f : fields)
            n << f.first;
        return n;
    }
    QJsonValue value(const QString& name) const {
        for (const auto& f : fields) {
            if (f.first == name)
                return f.second;
        }
        return QJsonValue(QJsonValue::Undefined);
    }
};

#if !defined(MARLO_REPLAYED_BACK_OFFICE)
// The training back office, made once per run; each test works on its own copy.
inline QString trainingDatabase() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath("training.db");
        protocol::openBackOfficeService(file.toStdString());
        return file;
    }();
    return path;
}
#endif

template <class Form> class AccountFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        BizInit(0, nullptr, nullptr, 0);
        ASSERT_TRUE(dir.isValid());
#if !defined(MARLO_REPLAYED_BACK_OFFICE)
        ASSERT_TRUE(QFile::copy(trainingDatabase(), dir.filePath("office.db")));
#endif
        transcript = dir.filePath("transcript.jsonl");
        host = transcriptHost(dir.filePath("office.db"), transcript);
        // The host prefers asset account entries.
        ASSERT_EQ(host->login("1001", "pass1001", "1"), "");
    }
    void TearDown() override {
        delete form.data();
        BizUninit();
        counter::unregisterHostClasses();
    }

    void open(std::int32_t menuCode) {
        form = new Form;
        form->InitFromHost(menuCode, 0, 0, host->appFrame());
        form->show();
        QApplication::setActiveWindow(form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    }

    TQZIDEdit& edit() {
        return *form->ui().hedQzID;
    }

    // The form has the keyboard again, as after a dialog has closed.
    void activate() {
        if (QApplication::activeWindow() != form)
            QApplication::setActiveWindow(form);
    }

    // Clicks the switch label until the edit takes entries of that kind.
    void switchTo(int inputWay) {
        for (int i = 0; i < 6 && edit().InputWay() != inputWay; ++i)
            QTest::mouseClick(form->ui().lbQzID, Qt::LeftButton);
        ASSERT_EQ(edit().InputWay(), inputWay);
    }

    // Types an entry into the identifier edit and presses Enter.
    void enter(const QString& text) {
        activate();
        edit().setFocus();
        edit().selectAll();
        QTest::keyClicks(&edit(), text);
        QTest::keyClick(&edit(), Qt::Key_Return);
    }

    // Picks the offered fund account at that row with the arrow keys and Enter.
    void pick(int row) {
        QListWidget* list = edit().subAccountList();
        ASSERT_TRUE(list->isVisible());
        for (int i = 0; i < row; ++i)
            QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
    }

    // The seven value labels, in the panel's order.
    QStringList panelTexts() {
        QStringList texts;
        for (QLabel* l :
             {form->ui().lbFundAcco, form->ui().lbCustName, form->ui().lbIDKind, form->ui().lbID,
              form->ui().lbCustGroup, form->ui().lbRoomCode, form->ui().lbStatus})
            texts << l->text();
        return texts;
    }

    QColor statusColour() {
        return form->ui().lbStatus->palette().color(QPalette::WindowText);
    }

    // The requests of the function sent so far.
    std::vector<SentRequest> requestsOf(int function) {
        QFile file(transcript);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        std::vector<SentRequest> found;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("dir").toString() != "request" || o.value("function").toInt() != function)
                continue;
            SentRequest r;
            for (const QJsonValue& f : o.value("fields").toArray())
                r.fields.emplace_back(f.toArray().at(0).toString(), f.toArray().at(1));
            found.push_back(std::move(r));
        }
        return found;
    }

    // The form as the operator sees it, with the fund account list if one is offered.
    void saveScreen(const char* name) {
        QApplication::processEvents();
        QPixmap picture = form->grab();
        QListWidget* list = edit().subAccountList();
        if (list->isVisible()) {
            QPainter painter(&picture);
            painter.drawPixmap(form->mapFromGlobal(list->mapToGlobal(QPoint(0, 0))), list->grab());
        }
        QDir().mkpath(QStringLiteral(SCREEN_DIR));
        EXPECT_TRUE(picture.save(QStringLiteral(SCREEN_DIR "/%1.png").arg(QLatin1String(name))));
    }

    QTemporaryDir dir;
    QString transcript;
    std::unique_ptr<counter::CounterHost> host;
    QPointer<Form> form;
    ScriptedDialogs::Installed dialogs;
};
