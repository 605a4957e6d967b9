#pragma once
// The counter's real host objects on an embedded back office in a database file (made with
// the training data when missing), every request and reply written to a transcript.

#include "CounterHost.h"
#include "EmbeddedTransport.h"
#include "TranscriptTransport.h"
#include "protocol/Service.h"

#include <QString>

#include <memory>

inline std::unique_ptr<counter::CounterHost> transcriptHost(const QString& database,
                                                            const QString& transcript) {
    return std::make_unique<counter::CounterHost>(std::make_unique<counter::TranscriptTransport>(
        std::make_unique<counter::EmbeddedTransport>(std::shared_ptr<protocol::PacketService>(
            protocol::openBackOfficeService(database.toStdString()))),
        transcript.toStdString()));
}
