#include "protocol/Frame.h"

#include <cstring>

namespace protocol {

std::string encodeFrame(std::int64_t packetId, std::string_view packet) {
    const auto length = static_cast<std::uint32_t>(FrameLimits::idSize + packet.size());
    std::string frame(FrameLimits::lengthSize + FrameLimits::idSize, '\0');
    std::memcpy(frame.data(), &length, 4);
    std::memcpy(frame.data() + 4, &packetId, 8);
    frame.append(packet);
    return frame;
}

std::optional<Frame> FrameReader::next() {
    if (bad_ || buffer_.size() < FrameLimits::lengthSize)
        return std::nullopt;
    std::uint32_t length = 0;
    std::memcpy(&length, buffer_.data(), 4);
    if (length < FrameLimits::idSize || length > maxLength_) {
        bad_ = true;
        buffer_.clear();
        return std::nullopt;
    }
    if (buffer_.size() - FrameLimits::lengthSize < length)
        return std::nullopt;
    Frame frame;
    std::memcpy(&frame.packetId, buffer_.data() + 4, 8);
    frame.packet =
        buffer_.substr(FrameLimits::lengthSize + FrameLimits::idSize, length - FrameLimits::idSize);
    buffer_.erase(0, FrameLimits::lengthSize + length);
    if (buffer_.capacity() > keptCapacity && buffer_.size() <= keptCapacity / 2)
        std::string(buffer_).swap(buffer_);
    return frame;
}

} // namespace protocol
