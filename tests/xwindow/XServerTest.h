#pragma once
// A module form on a `marlo-backoffice serve` process over loopback, in the X window: the
// server can be stopped (SIGSTOP), let go on or killed while the counter waits.
#include "XSession.h"
#include "forms/AccountFormFixture.h"

#include "TcpTransport.h"

#include <QCursor>
#include <QTimer>

#include <csignal>

// The form's host on a `marlo-backoffice serve` process over loopback, with a transcript.
template <class Form> class XServerTest : public AccountFormTest<Form> {
protected:
    void SetUp() override {
        AccountFormTest<Form>::SetUp();
        if (this->HasFatalFailure())
            return;
        QString line;
        server = xwindow::startReading({QStringLiteral(BACKOFFICE), "serve", "--db",
                                        this->dir.filePath("office.db"), "--listen", "127.0.0.1:0"},
                                       &line);
        const qsizetype colon = line.lastIndexOf(':');
        ASSERT_GT(colon, 0) << line.toStdString();
        const auto port = static_cast<std::uint16_t>(line.mid(colon + 1).toUInt());
        this->transcript = this->dir.filePath("server-transcript.jsonl");
        this->host =
            std::make_unique<counter::CounterHost>(std::make_unique<counter::TranscriptTransport>(
                std::make_unique<counter::TcpTransport>("127.0.0.1", port),
                this->transcript.toStdString()));
        ASSERT_EQ(this->host->login("1001", "pass1001", "1"), "");
    }
    void TearDown() override {
        AccountFormTest<Form>::TearDown();
        server.stop();
    }

    void openForm(std::int32_t menuCode) {
        this->open(menuCode);
        ASSERT_TRUE(xwindow::activate(this->form));
        ASSERT_TRUE(xwindow::click(&this->edit()));
        ASSERT_TRUE(xwindow::waitFor([&] { return this->edit().hasFocus(); }));
    }

    // Types the entry, stops the server, presses Enter and then Enter `blind` times more
    // while the counter waits, and lets the server go on after `stalledMs`. During the
    // wait the cursor the counter sets and the one the X server shows are noted, and the
    // screen is saved as `picture` when one is named.
    void enterWhileTheServerStalls(const QString& entry, int blind, int stalledMs,
                                   const QString& picture = {}) {
        ASSERT_TRUE(xwindow::type(entry));
        ASSERT_TRUE(xwindow::pointAt(this->form->ui().GroupBox2));
        xCursorBefore = xwindow::cursorImage();
        ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
        const pid_t pid = server.pid();
        QTimer::singleShot(stalledMs, [pid] { kill(pid, SIGCONT); });
        QTimer::singleShot(stalledMs - 300, [this, picture] {
            if (const QCursor* c = QApplication::overrideCursor())
                cursorDuringWait = c->shape();
            xCursorDuringWait = xwindow::cursorImage();
            if (!picture.isEmpty())
                xwindow::grabScreen(picture);
        });
        QStringList keys{"Return"};
        for (int i = 0; i < blind; ++i)
            keys << "Return";
        xwindow::Child typing = xwindow::xdotoolLater(QStringList{"key", "--delay", "250"} + keys);
        ASSERT_TRUE(xwindow::waitFor([&] { return typing.finished(); }, 10000));
        // The reply is in and the counter idle: whatever the keys would do has happened.
        ASSERT_TRUE(xwindow::waitFor([&] { return !this->form->ui().lbCustName->text().isEmpty(); },
                                     10000));
        xwindow::spin(600);
    }

    xwindow::Child server;
    int cursorDuringWait = -1;
    QImage xCursorBefore;
    QImage xCursorDuringWait;
};
