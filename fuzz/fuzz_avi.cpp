// Parses any bytes as the wait popup's animation and reads every pixel of every frame.

#include "AviFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    AviFile avi;
    if (!avi.parse(std::string_view(reinterpret_cast<const char*>(data), size)))
        return 0;
    std::uint32_t mix = 0;
    for (const auto& frame : avi.frames()) {
        if (frame.size() != static_cast<std::size_t>(avi.width()) * avi.height())
            __builtin_trap();
        for (std::uint32_t pixel : frame)
            mix ^= pixel;
    }
    return mix == 0x12345678 ? 0 : 0;
}
