#include "PrinterCodes.h"

#include <initializer_list>

namespace {

std::string bytes(std::initializer_list<unsigned char> codes) {
    std::string out;
    for (unsigned char c : codes)
        out += static_cast<char>(c);
    return out;
}

} // namespace

TFamilyCodes FamilyCodes(TPrinterFamily family, bool highSpeed, bool initPrint) {
    TFamilyCodes codes;
    // The high-speed mode of the OKI families.
    const std::string highSpeedCode = highSpeed ? bytes({27, 68}) : std::string();
    switch (family) {
    case TPrinterFamily::Oki:
        codes.init = bytes({27, 36, 64, 27, 107, 27, 53}) + highSpeedCode;
        codes.doubleSize = bytes({27, 85});
        codes.resetSize = bytes({27, 82});
        codes.rowsPrefix = bytes({27, 70});
        codes.leftPrefix = bytes({27, 40});
        codes.endOfPage = bytes({12, 27, 37, 53});
        break;
    case TPrinterFamily::OkiBj:
        codes.init = bytes({27, 37, 56, 210, 27, 37, 56, 255}) + highSpeedCode;
        // Two cut commands: ESC % 5 with the arguments 255 and 210.
        codes.cut = bytes({27, 37, 53, 255, 27, 37, 53, 210});
        codes.rowsPrefix = bytes({27, 70});
        codes.leftPrefix = bytes({27, 40});
        codes.endOfPage = bytes({27, 37, 53});
        break;
    case TPrinterFamily::Epson:
        codes.init = initPrint ? bytes({27, 64, 28, 38}) : bytes({28, 38});
        codes.autoLink = highSpeed ? std::string() : bytes({28, 118, 1});
        codes.doubleSize = bytes({27, 14});
        codes.rowsPrefix = bytes({27, 67});
        codes.leftPrefix = bytes({27, 108});
        codes.endOfPage = bytes({27, 74});
        break;
    }
    return codes;
}
