#pragma once
// The frame that carries a packet over TCP: four bytes of length (little-endian, the
// length of what follows), eight bytes of packet id, then the packet. A reply frame
// carries the packet id of its request.

#include "protocol/Packet.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace protocol {

struct FrameLimits {
    static constexpr std::size_t lengthSize = 4;
    static constexpr std::size_t idSize = 8;
    static constexpr std::size_t maxFrameLength = idSize + Limits::maxPacketSize;
};

std::string encodeFrame(std::int64_t packetId, std::string_view packet);

struct Frame {
    std::int64_t packetId;
    std::string packet;
};

// Collects bytes as they arrive and cuts them into frames.
class FrameReader {
public:
    // Frames longer than `maxLength` (at most the protocol's cap) make the stream bad.
    explicit FrameReader(std::size_t maxLength = FrameLimits::maxFrameLength)
        : maxLength_(std::min(maxLength, FrameLimits::maxFrameLength)) {}
    void feed(const char* data, std::size_t size) { buffer_.append(data, size); }
    // Another cap from the next frame on (the server's, once a login succeeds).
    void limit(std::size_t maxLength) {
        maxLength_ = std::min(maxLength, FrameLimits::maxFrameLength);
    }
    // The next whole frame, if one is there. A length over the cap or too short for the
    // packet id makes the stream bad: nothing more is read from it.
    std::optional<Frame> next();
    bool bad() const { return bad_; }
    // Bytes of a frame begun but not finished.
    bool midFrame() const { return !buffer_.empty(); }
    // Bytes held, for the server's accounting of its memory. Once a large frame is taken,
    // the buffer returns to a small size.
    std::size_t buffered() const { return buffer_.capacity(); }
    static constexpr std::size_t keptCapacity = 128 * 1024;

private:
    std::size_t maxLength_;
    std::string buffer_;
    bool bad_ = false;
};

} // namespace protocol
