#include "AviFile.h"

#include <cstring>

namespace {

constexpr std::uint32_t biRgb = 0;
constexpr std::uint32_t biRle8 = 1;

std::uint32_t u32(std::string_view s, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

std::uint16_t u16(std::string_view s, std::size_t at) {
    std::uint16_t v;
    std::memcpy(&v, s.data() + at, 2);
    return v;
}

bool isTag(std::string_view s, std::size_t at, const char* tag) {
    return s.size() >= at + 4 && std::memcmp(s.data() + at, tag, 4) == 0;
}

// Walks the chunks of a list body: calls visit(id, body) for each; false on a chunk that
// runs past the end.
template <class Visit> bool forEachChunk(std::string_view body, Visit visit) {
    std::size_t at = 0;
    while (at + 8 <= body.size()) {
        const std::string_view id = body.substr(at, 4);
        const std::uint32_t size = u32(body, at + 4);
        if (size > body.size() - at - 8)
            return false;
        if (!visit(id, body.substr(at + 8, size)))
            return false;
        at += 8 + size + (size & 1); // chunks are word-aligned
    }
    return true;
}

} // namespace

bool AviFile::fail(const std::string& why) {
    error_ = why;
    frames_.clear();
    return false;
}

bool AviFile::parse(std::string_view bytes) {
    frames_.clear();
    error_.clear();
    width_ = height_ = 0;
    palette_.clear();
    if (bytes.size() > maxFileSize)
        return fail("file too large");
    if (bytes.size() < 12 || !isTag(bytes, 0, "RIFF") || !isTag(bytes, 8, "AVI "))
        return fail("not a RIFF AVI file");
    const std::uint32_t riffSize = u32(bytes, 4);
    if (riffSize < 4 || riffSize > bytes.size() - 8)
        return fail("truncated file");
    const std::string_view riff = bytes.substr(12, riffSize - 4);

    bool haveFormat = false;
    std::vector<std::string_view> frameData;
    std::vector<bool> frameCompressed;
    const auto readStreamList = [&](std::string_view list) {
        bool video = false;
        return forEachChunk(list, [&](std::string_view id, std::string_view body) {
            if (id == "strh") {
                video = body.size() >= 4 && isTag(body, 0, "vids");
            } else if (id == "strf" && video && !haveFormat) {
                if (body.size() < 40)
                    return false;
                const std::uint32_t headerSize = u32(body, 0);
                const auto w = static_cast<std::int32_t>(u32(body, 4));
                const auto h = static_cast<std::int32_t>(u32(body, 8));
                bitCount_ = u16(body, 14);
                compression_ = u32(body, 16);
                std::uint32_t colours = u32(body, 32);
                if (headerSize < 40 || headerSize > body.size() || w <= 0 || w > maxSide ||
                    h == 0 || h > maxSide || h < -maxSide)
                    return false;
                width_ = w;
                height_ = h; // negative: top-down rows
                if (bitCount_ == 8) {
                    if (colours == 0 || colours > 256)
                        colours = 256;
                    if (body.size() - headerSize < colours * 4)
                        return false;
                    for (std::uint32_t i = 0; i < colours; ++i) {
                        const std::size_t at = headerSize + i * 4;
                        const auto b = static_cast<unsigned char>(body[at]);
                        const auto g = static_cast<unsigned char>(body[at + 1]);
                        const auto r = static_cast<unsigned char>(body[at + 2]);
                        palette_.push_back(0xFF000000u | (r << 16) | (g << 8) | b);
                    }
                    palette_.resize(256, 0xFF000000u);
                } else if (bitCount_ != 24 || compression_ != biRgb) {
                    return false;
                }
                if (compression_ != biRgb && compression_ != biRle8)
                    return false;
                haveFormat = true;
            }
            return true;
        });
    };
    const bool walked = forEachChunk(riff, [&](std::string_view id, std::string_view body) {
        if (id == "LIST" && body.size() >= 4) {
            const std::string_view kind = body.substr(0, 4);
            const std::string_view list = body.substr(4);
            if (kind == "hdrl") {
                return forEachChunk(list, [&](std::string_view inner, std::string_view b) {
                    if (inner == "avih" && b.size() >= 4 && u32(b, 0) != 0)
                        microseconds_ = u32(b, 0);
                    if (inner == "LIST" && b.size() >= 4 && isTag(b, 0, "strl"))
                        return readStreamList(b.substr(4));
                    return true;
                });
            }
            if (kind == "movi") {
                return forEachChunk(list, [&](std::string_view inner, std::string_view b) {
                    if (inner == "00db" || inner == "00dc") {
                        if (frameData.size() >= maxFrames)
                            return false;
                        frameData.push_back(b);
                        frameCompressed.push_back(inner == "00dc");
                    }
                    return true;
                });
            }
        }
        return true;
    });
    if (!walked)
        return fail("a chunk runs past its list");
    if (!haveFormat)
        return fail("no video stream the popup can play");
    if (frameData.empty())
        return fail("no frames");
    for (std::size_t i = 0; i < frameData.size(); ++i) {
        if (!decodeFrame(frameData[i], frameCompressed[i] || compression_ == biRle8))
            return fail("frame " + std::to_string(i) + " is damaged");
    }
    if (height_ < 0)
        height_ = -height_;
    return true;
}

bool AviFile::decodeFrame(std::string_view data, bool compressed) {
    const int w = width_;
    const int h = height_ < 0 ? -height_ : height_;
    const bool bottomUp = height_ > 0;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h, 0xFF000000u);
    const auto put = [&](int x, int y, std::uint32_t colour) {
        const int row = bottomUp ? h - 1 - y : y;
        pixels[static_cast<std::size_t>(row) * w + x] = colour;
    };
    if (!compressed) {
        const std::size_t bytesPerPixel = bitCount_ == 8 ? 1 : 3;
        const std::size_t stride = (w * bytesPerPixel + 3) & ~std::size_t{3};
        if (data.size() < stride * h)
            return false;
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const unsigned char*>(data.data()) + stride * y;
            for (int x = 0; x < w; ++x) {
                if (bitCount_ == 8)
                    put(x, y, palette_[row[x]]);
                else
                    put(x, y,
                        0xFF000000u | (row[3 * x + 2] << 16) | (row[3 * x + 1] << 8) | row[3 * x]);
            }
        }
    } else {
        if (bitCount_ != 8)
            return false;
        int x = 0;
        int y = 0;
        std::size_t at = 0;
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
        while (at + 1 < data.size()) {
            const unsigned count = byte(at);
            const unsigned value = byte(at + 1);
            at += 2;
            if (count > 0) { // a run
                for (unsigned i = 0; i < count; ++i, ++x) {
                    if (x >= w || y >= h)
                        return false;
                    put(x, y, palette_[value]);
                }
            } else if (value == 0) { // end of line
                x = 0;
                ++y;
            } else if (value == 1) { // end of bitmap
                break;
            } else if (value == 2) { // delta
                if (at + 1 >= data.size())
                    return false;
                x += byte(at);
                y += byte(at + 1);
                at += 2;
                if (x > w || y > h)
                    return false;
            } else { // absolute: `value` literal bytes, word-aligned
                if (data.size() - at < value)
                    return false;
                for (unsigned i = 0; i < value; ++i, ++x) {
                    if (x >= w || y >= h)
                        return false;
                    put(x, y, palette_[byte(at + i)]);
                }
                at += value + (value & 1);
            }
        }
    }
    frames_.push_back(std::move(pixels));
    return true;
}
