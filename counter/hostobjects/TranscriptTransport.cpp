#include "TranscriptTransport.h"

#include "protocol/Packet.h"

#include <cctype>
#include <cmath>
#include <stdexcept>

namespace counter {

namespace {

void appendString(std::string& out, std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20) {
                out += "\\u00";
                out.push_back(hex[u >> 4]);
                out.push_back(hex[u & 15]);
            } else {
                out.push_back(c); // UTF-8 passes through
            }
        }
    }
    out.push_back('"');
}

// Any field named like a password, whatever its case: "Password", "OP_PASSWORD", "trade_pwd".
bool isPassword(std::string_view name) {
    std::string lower(name);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("password") != std::string::npos || lower.find("pwd") != std::string::npos;
}

void appendValue(std::string& out, const protocol::PacketView& p, std::size_t record,
                 std::size_t field) {
    if (isPassword(p.field(field).name)) {
        out += "\"***\"";
        return;
    }
    switch (p.field(field).type) {
    case protocol::FieldType::Integer:
        out += std::to_string(p.integer(record, field));
        break;
    case protocol::FieldType::Real: {
        const double v = p.real(record, field);
        if (!std::isfinite(v)) {
            out += "null";
            break;
        }
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.15g", v);
        out += buffer;
        break;
    }
    case protocol::FieldType::Text:
        appendString(out, p.text(record, field));
        break;
    case protocol::FieldType::Bytes: {
        // A buffer is written as its bytes in hex.
        static const char hex[] = "0123456789abcdef";
        std::string h;
        for (char c : p.text(record, field)) {
            h.push_back(hex[static_cast<unsigned char>(c) >> 4]);
            h.push_back(hex[static_cast<unsigned char>(c) & 15]);
        }
        appendString(out, h);
        break;
    }
    }
}

std::string undecodable(const char* dir, std::int64_t packetId, protocol::DecodeStatus status) {
    std::string out = std::string("{\"dir\":\"") + dir +
                      "\",\"packet\":" + std::to_string(packetId) + ",\"malformed\":";
    appendString(out, protocol::describe(status));
    return out + "}";
}

} // namespace

std::string transcriptRequest(std::int64_t packetId, std::string_view packet) {
    protocol::PacketView p;
    const auto status = p.decode(packet);
    if (status != protocol::DecodeStatus::Ok)
        return undecodable("request", packetId, status);
    std::string out = "{\"dir\":\"request\",\"packet\":" + std::to_string(packetId) +
                      ",\"function\":" + std::to_string(p.functionNo()) + ",\"fields\":[";
    for (std::size_t f = 0; f < p.fieldCount(); ++f) {
        out += f ? ",[" : "[";
        appendString(out, p.field(f).name);
        out.push_back(',');
        if (p.recordCount() > 0)
            appendValue(out, p, 0, f);
        else
            out += "null";
        out.push_back(']');
    }
    return out + "]}";
}

std::string transcriptReply(std::int64_t packetId, std::string_view packet) {
    protocol::PacketView p;
    const auto status = p.decode(packet);
    if (status != protocol::DecodeStatus::Ok)
        return undecodable("reply", packetId, status);
    std::string out = "{\"dir\":\"reply\",\"packet\":" + std::to_string(packetId) +
                      ",\"return_code\":" + std::to_string(p.returnCode()) + ",\"fields\":[";
    for (std::size_t f = 0; f < p.fieldCount(); ++f) {
        if (f)
            out.push_back(',');
        appendString(out, p.field(f).name);
    }
    out += "],\"records\":[";
    for (std::size_t r = 0; r < p.recordCount(); ++r) {
        out += r ? ",[" : "[";
        for (std::size_t f = 0; f < p.fieldCount(); ++f) {
            if (f)
                out.push_back(',');
            appendValue(out, p, r, f);
        }
        out.push_back(']');
    }
    return out + "]}";
}

std::string transcriptFailure(std::int64_t packetId, HRESULT status, std::string_view what) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
    std::string out = "{\"dir\":\"failure\",\"packet\":" + std::to_string(packetId) +
                      ",\"status\":\"" + code + "\",\"error\":";
    appendString(out, what);
    return out + "}";
}

std::string transcriptConnectFailure(std::string_view backoffice, std::string_view what) {
    std::string out = "{\"dir\":\"connect\",\"backoffice\":";
    appendString(out, backoffice);
    out += ",\"error\":";
    appendString(out, what);
    return out + "}";
}

std::string transcriptDropped(std::int64_t packetId) {
    return "{\"dir\":\"dropped\",\"packet\":" + std::to_string(packetId) +
           ",\"error\":\"no request awaits this packet\"}";
}

bool appendTranscriptLine(const std::string& path, const std::string& line) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file)
        return false;
    const bool written = std::fputs(line.c_str(), file) >= 0 && std::fputc('\n', file) != EOF;
    return std::fclose(file) == 0 && written;
}

TranscriptTransport::TranscriptTransport(std::unique_ptr<Transport> inner, const std::string& path)
    : inner_(std::move(inner)), file_(std::fopen(path.c_str(), "a")) {
    if (!file_)
        throw std::runtime_error("cannot write the transcript " + path);
}

TranscriptTransport::~TranscriptTransport() {
    inner_.reset(); // no reply may arrive once the file is closed
    std::fclose(file_);
}

void TranscriptTransport::write(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

void TranscriptTransport::connect(Callbacks callbacks) {
    auto deliver = std::move(callbacks.deliver);
    callbacks.deliver = [this, deliver = std::move(deliver)](std::int64_t id, std::string reply) {
        write(transcriptReply(id, reply));
        deliver(id, std::move(reply));
    };
    auto dropped = std::move(callbacks.dropped);
    callbacks.dropped = [this, dropped = std::move(dropped)](std::int64_t id) {
        write(transcriptDropped(id));
        if (dropped)
            dropped(id);
    };
    inner_->connect(std::move(callbacks));
}

HRESULT TranscriptTransport::submit(std::int64_t packetId, std::string request) {
    write(transcriptRequest(packetId, request));
    const HRESULT status = inner_->submit(packetId, std::move(request));
    if (hr::failed(status))
        write(transcriptFailure(packetId, status, "not sent"));
    return status;
}

void TranscriptTransport::abandoned(std::int64_t packetId, HRESULT status) {
    write(transcriptFailure(packetId, status,
                            status == hr::timeout ? "no reply in time" : "connection broken"));
    inner_->abandoned(packetId, status);
}

} // namespace counter
