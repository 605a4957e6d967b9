#pragma once
// A reader of the animation files the wait popup plays: RIFF AVI with one video stream of
// uncompressed (8-bit palettised or 24-bit) or RLE8 frames. Everything is bounds-checked;
// a file that breaks the format or the limits gives no frames and a reason.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class AviFile {
public:
    static constexpr std::size_t maxFileSize = 16u << 20;
    static constexpr int maxSide = 1024;
    static constexpr std::size_t maxFrames = 1000;

    // Parses the bytes; false (with error()) when they are not an animation it can play.
    bool parse(std::string_view bytes);

    int width() const { return width_; }
    int height() const { return height_; }
    // Microseconds each frame is shown.
    std::uint32_t frameMicroseconds() const { return microseconds_; }
    // Top-down rows of 0xAARRGGBB pixels, width × height each.
    const std::vector<std::vector<std::uint32_t>>& frames() const { return frames_; }
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& why);
    bool decodeFrame(std::string_view data, bool compressed);

    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    std::uint32_t compression_ = 0;
    std::uint32_t microseconds_ = 100000;
    std::vector<std::uint32_t> palette_;
    std::vector<std::vector<std::uint32_t>> frames_;
    std::string error_;
};
