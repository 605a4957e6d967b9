#pragma once
// The counter's real host objects on an embedded back office in a database file (made with
// the training data when missing), every request and reply written to a transcript. A build
// without the back office answers from the replies that the same test recorded on it.

#include "CounterHost.h"
#include "RecordedReplies.h"
#include "TranscriptTransport.h"

#if !defined(MARLO_REPLAYED_BACK_OFFICE)
#include "EmbeddedTransport.h"
#include "protocol/Service.h"
#endif

#include <QString>

#include <memory>

// The transport to the back office on that database file, or to this test's recorded
// replies of it.
inline std::unique_ptr<counter::Transport> backOfficeTransport(const QString& database) {
#if defined(MARLO_REPLAYED_BACK_OFFICE)
    (void)database;
    return replayedBackOffice();
#else
    std::unique_ptr<counter::Transport> embedded =
        std::make_unique<counter::EmbeddedTransport>(std::shared_ptr<protocol::PacketService>(
            protocol::openBackOfficeService(database.toStdString())));
    if (const std::optional<QString> folder = recordingFolder())
        return std::make_unique<RecordingTransport>(std::move(embedded),
                                                    recordedRepliesFile(*folder));
    return embedded;
#endif
}

inline std::unique_ptr<counter::CounterHost> transcriptHost(const QString& database,
                                                            const QString& transcript) {
    return std::make_unique<counter::CounterHost>(std::make_unique<counter::TranscriptTransport>(
        backOfficeTransport(database), transcript.toStdString()));
}
