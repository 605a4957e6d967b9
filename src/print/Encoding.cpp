#include "Encoding.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace {

// The length of the UTF-8 character at `pos`, 0 when none starts there.
std::size_t utf8Length(std::string_view s, std::size_t pos) {
    const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(s[pos + i]); };
    const std::size_t left = s.size() - pos;
    const std::uint8_t lead = b(0);
    if (lead < 0x80)
        return 1;
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

#if defined(_WIN32)
// The system's code page conversion, through UTF-16.
class Converter {
public:
    Converter(const char* to, const char* from) : to_(codePage(to)), from_(codePage(from)) {}

    // The converted bytes; false when the input holds a sequence the source code page
    // does not have, or ends inside one.
    bool convert(std::string_view in, std::string& out) {
        if (in.empty())
            return true;
        const int inSize = static_cast<int>(in.size());
        const int wide =
            MultiByteToWideChar(from_, MB_ERR_INVALID_CHARS, in.data(), inSize, nullptr, 0);
        if (wide <= 0)
            return false;
        std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
        MultiByteToWideChar(from_, MB_ERR_INVALID_CHARS, in.data(), inSize, utf16.data(), wide);
        // UTF-8 has every character; any other code page reports one it lacks rather than
        // writing its default character for it.
        BOOL lacking = FALSE;
        BOOL* const lacks = to_ == CP_UTF8 ? nullptr : &lacking;
        const int size =
            WideCharToMultiByte(to_, 0, utf16.data(), wide, nullptr, 0, nullptr, lacks);
        if (size <= 0 || lacking)
            return false;
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(size));
        WideCharToMultiByte(to_, 0, utf16.data(), wide, out.data() + at, size, nullptr, nullptr);
        return true;
    }

private:
    static UINT codePage(std::string_view name) {
        if (name == "UTF-8")
            return CP_UTF8;
        // Some systems (wine among them) lack the GB18030 code page: GBK, whose one- and
        // two-byte codes GB18030 keeps, reads and writes every character it has, and the
        // four-byte ones are reported as not convertible.
        if (name == "GB18030")
            return IsValidCodePage(54936) ? 54936 : 936;
        throw std::runtime_error("no code page " + std::string(name));
    }

    UINT to_;
    UINT from_;
};
#else
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("no conversion from ") + from + " to " + to);
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The converted bytes; false when the input holds a sequence the source code page
    // does not have, or ends inside one.
    bool convert(std::string_view in, std::string& out) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char buffer[256];
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t r = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t cd_;
};

#endif

} // namespace

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t n = utf8Length(bytes, pos);
        if (n == 0)
            return false;
        pos += n;
    }
    return true;
}

std::string Gb18030ToUtf8(std::string_view bytes) {
    Converter converter("UTF-8", "GB18030");
    std::string out;
    // A GB18030 character is one, two or four bytes; an undecodable stretch is passed
    // over one byte at a time.
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t take = 0;
        std::string piece;
        for (std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{4}}) {
            if (pos + n > bytes.size())
                break;
            piece.clear();
            if (converter.convert(bytes.substr(pos, n), piece)) {
                take = n;
                break;
            }
        }
        if (take == 0) {
            out += "\xEF\xBF\xBD";
            ++pos;
        } else {
            out += piece;
            pos += take;
        }
    }
    return out;
}

std::string DecodeTextFile(std::string_view bytes) {
    if (IsValidUtf8(bytes)) {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
            bytes.remove_prefix(3);
        return std::string(bytes);
    }
    return Gb18030ToUtf8(bytes);
}

std::string ToPrinterBytes(std::string_view text) {
    Converter converter("GB18030", "UTF-8");
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t n = utf8Length(text, pos);
        if (n <= 1) {
            out += text[pos];
            ++pos;
            continue;
        }
        std::string piece;
        if (converter.convert(text.substr(pos, n), piece))
            out += piece;
        else
            out += '?';
        pos += n;
    }
    return out;
}
