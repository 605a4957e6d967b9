#pragma once
// Writes every request and reply that passes through a transport as one JSON object per
// line, values with their types, every field named like a password (any case, or "pwd")
// masked as "***":
//   {"dir":"request","packet":N,"function":F,"fields":[[name,value],...]}
//   {"dir":"reply","packet":N,"return_code":R,"fields":[names],"records":[[values],...]}
// and a request that got no reply, with its status:
//   {"dir":"failure","packet":N,"status":"0x80041004","error":"connection broken"}
// and a reply the transport threw away, since no request awaits its packet id:
//   {"dir":"dropped","packet":N,"error":"no request awaits this packet"}
// and, before any of these, each failed attempt of the counter to reach its back office:
//   {"dir":"connect","backoffice":"tcp://127.0.0.1:7001","error":"... Connection refused"}

#include "Transport.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace counter {

// The transcript line of a request or reply packet (without the line end).
std::string transcriptRequest(std::int64_t packetId, std::string_view packet);
std::string transcriptReply(std::int64_t packetId, std::string_view packet);
std::string transcriptFailure(std::int64_t packetId, HRESULT status, std::string_view what);
std::string transcriptConnectFailure(std::string_view backoffice, std::string_view what);
std::string transcriptDropped(std::int64_t packetId);
// Appends one line to the transcript file; false when it cannot be written.
bool appendTranscriptLine(const std::string& path, const std::string& line);

class TranscriptTransport final : public Transport {
public:
    // Appends to the file; throws std::runtime_error when it cannot be opened.
    TranscriptTransport(std::unique_ptr<Transport> inner, const std::string& path);
    ~TranscriptTransport() override;

    void connect(Callbacks callbacks) override;
    HRESULT submit(std::int64_t packetId, std::string request) override;
    void abandoned(std::int64_t packetId, HRESULT status) override;
    std::chrono::microseconds awakeWait() const override { return inner_->awakeWait(); }

private:
    void write(const std::string& line);

    std::unique_ptr<Transport> inner_;
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

} // namespace counter
