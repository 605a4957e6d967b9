#pragma once
// The back office's replies of one test, kept so that a build without the back office (the
// Windows one) runs the same test on them. Where MARLO_RECORD_REPLIES names a folder, a test
// on the real back office writes there, in the order its requests were sent, the function
// number and the reply of each request. A replaying build answers the same test's requests
// from that file through the scripted transport, which refuses a request whose function
// differs from the recorded one; the test's own checks then read what the module sent.
//
// The file, <suite>.<test>.replies, has one line per request: the function number, a blank
// and the reply packet in base64, or "-" for a request that never got one.

#include "ScriptedTransport.h"
#include "Transport.h"
#include "protocol/Packet.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Where this test's replies are kept in `folder`.
inline QString recordedRepliesFile(const QString& folder) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QString name =
        QStringLiteral("%1.%2.replies")
            .arg(QString::fromUtf8(test->test_suite_name()), QString::fromUtf8(test->name()));
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QDir(folder).filePath(name);
}

// Passes everything on to the real transport and keeps each request's reply; the file is
// written when the transport goes, as the test's host is taken down.
class RecordingTransport final : public counter::Transport {
public:
    RecordingTransport(std::unique_ptr<counter::Transport> inner, QString path)
        : inner_(std::move(inner)), path_(std::move(path)) {}
    ~RecordingTransport() override {
        inner_.reset();
        QFile file(path_);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ADD_FAILURE() << "cannot write " << path_.toStdString();
            return;
        }
        std::lock_guard lock(mutex_);
        for (const Step& step : steps_) {
            file.write(
                QByteArray::number(step.functionNo) + ' ' +
                (step.reply ? QByteArray::fromStdString(*step.reply).toBase64() : QByteArray("-")) +
                '\n');
        }
    }

    void connect(Callbacks callbacks) override {
        Callbacks recording = callbacks;
        recording.deliver = [this, deliver = callbacks.deliver](std::int64_t id,
                                                                std::string reply) {
            {
                std::lock_guard lock(mutex_);
                if (auto at = order_.find(id); at != order_.end())
                    steps_[at->second].reply = reply;
            }
            deliver(id, std::move(reply));
        };
        inner_->connect(std::move(recording));
    }
    HRESULT submit(std::int64_t packetId, std::string request) override {
        protocol::PacketView view;
        const std::int32_t functionNo =
            view.decode(request) == protocol::DecodeStatus::Ok ? view.functionNo() : 0;
        {
            std::lock_guard lock(mutex_);
            order_[packetId] = steps_.size();
            steps_.push_back({functionNo, std::nullopt});
        }
        return inner_->submit(packetId, std::move(request));
    }
    void abandoned(std::int64_t packetId, HRESULT status) override {
        inner_->abandoned(packetId, status);
    }
    std::chrono::microseconds awakeWait() const override { return inner_->awakeWait(); }

private:
    struct Step {
        std::int32_t functionNo;
        std::optional<std::string> reply;
    };
    std::unique_ptr<counter::Transport> inner_;
    QString path_;
    std::mutex mutex_;
    std::map<std::int64_t, std::size_t> order_;
    std::vector<Step> steps_;
};

// The folder the replies are recorded to, when a run records them.
inline std::optional<QString> recordingFolder() {
    const char* folder = std::getenv("MARLO_RECORD_REPLIES");
    if (folder == nullptr || *folder == '\0')
        return std::nullopt;
    QDir().mkpath(QString::fromLocal8Bit(folder));
    return QString::fromLocal8Bit(folder);
}

// The scripted transport, answering with this test's recorded replies (from
// MARLO_REPLAY_REPLIES, or replies/ in the working folder). A missing file fails the test:
// every request would otherwise be answered with an error.
inline std::unique_ptr<counter::Transport> replayedBackOffice() {
    const char* folder = std::getenv("MARLO_REPLAY_REPLIES");
    QFile file(recordedRepliesFile(folder != nullptr && *folder != '\0'
                                       ? QString::fromLocal8Bit(folder)
                                       : QStringLiteral("replies")));
    auto script = std::make_shared<counter::Script>();
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "no recorded replies at " << file.fileName().toStdString();
    } else {
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype blank = line.indexOf(' ');
            if (blank < 0)
                continue;
            const std::int32_t functionNo = line.left(blank).toInt();
            const QByteArray reply = line.mid(blank + 1);
            if (reply == "-")
                script->answerLater({}, functionNo);
            else
                script->answer(QByteArray::fromBase64(reply).toStdString(), functionNo);
        }
    }
    return std::make_unique<counter::ScriptedTransport>(std::move(script));
}
