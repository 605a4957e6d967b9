#include "ClsPrint.h"

#include "PrinterCodes.h"
#include "Tools.h"

#include <cmath>
#include <cstdint>
#include <optional>

namespace {

constexpr char printerSection[] = "PRINTER";

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// A short string of the given capacity: the bytes beyond it are cut.
std::string capped(std::string_view bytes, std::size_t capacity) {
    return std::string(bytes.substr(0, capacity));
}

// The low 8 bits of a whole number held in a double. A paper size near the largest real
// number overflows the rows on the way; such a value, of no meaning, gives the byte 0.
char lowByte(double whole) {
    if (!std::isfinite(whole))
        return 0;
    const double r = std::fmod(whole, 256.0);
    return static_cast<char>(static_cast<std::uint8_t>(static_cast<int>(r < 0 ? r + 256 : r)));
}

// Rounding with halves to even.
double roundEven(double x) {
    return std::nearbyint(x);
}

std::optional<TPrinterFamily> familyOf(const std::string& upperType) {
    if (upperType == "EPSON")
        return TPrinterFamily::Epson;
    if (upperType == "OKI")
        return TPrinterFamily::Oki;
    if (upperType == "OKIBJ")
        return TPrinterFamily::OkiBj;
    return std::nullopt;
}

} // namespace

std::string TypeCodeOf(std::string_view typeName) {
    if (typeName == "EPSON")
        return "3";
    if (typeName == "OKIBJ")
        return "2";
    if (typeName == "OKI")
        return "1";
    return "0";
}

std::string CodeListToBytes(std::string_view codes) {
    std::string out;
    for (std::uint8_t field = 1; field <= 40; ++field) {
        const std::string text = CutToCapacity(GetField(codes, ';', field), 40);
        if (text.empty())
            break;
        std::int32_t value = 0;
        const std::string digits = Trim(text);
        bool decimal = !digits.empty();
        for (std::size_t i = 0; i < digits.size() && decimal; ++i)
            decimal = (digits[i] >= '0' && digits[i] <= '9') ||
                      (i == 0 && (digits[i] == '-' || digits[i] == '+') && digits.size() > 1);
        if (!decimal || !TryStrToInt(digits, value))
            value = 0;
        out += static_cast<char>(static_cast<std::uint8_t>(value & 0xFF));
    }
    return out;
}

TPrnCtrl::TPrnCtrl(const TIniFile& ini) {
    Read(ini);
}

void TPrnCtrl::Read(const TIniFile& ini) {
    const std::string typeAsWritten = ini.ReadString(printerSection, "PRINTTYPE", "EPSON");
    printType = upper(typeAsWritten);
    highSpeed = ini.ReadBool(printerSection, "HIGHSPEED", true);
    single = ini.ReadBool(printerSection, "SINGLE", false);
    initPrint = ini.ReadBool(printerSection, "INITPRINT", true);
    typeCode = TypeCodeOf(typeAsWritten);
    printMode = ini.ReadString(printerSection, "PRINTMODE", "2");
    pageLength = ini.ReadInteger(printerSection, "PAGELENGTH", 0);
    pageWidth = ini.ReadInteger(printerSection, "PAGEWIDTH", 0);
    tinyFormFeed = ini.ReadInteger(printerSection, "TINYFORMFEED", 0);
    fontSize = ini.ReadInteger(printerSection, "FONTSIZE", 0);
    fontName = ini.ReadString(printerSection, "FONTNAME", "");
    autoToNextPage = ini.ReadInteger(printerSection, "AutoToNextPage", 0);
    jiggle = ini.ReadBool(printerSection, "JIGGLE", true);
    SetCodes(ini);
    ReadPaper(ini);
    contentWidth = 25;
    ComputeCommands();
}

void TPrnCtrl::SetCodes(const TIniFile& ini) {
    TFamilyCodes codes;
    if (const auto family = familyOf(printType)) {
        codes = FamilyCodes(*family, highSpeed, initPrint);
    } else {
        // A printer of another name brings its codes in a section of its own name.
        const auto code = [&](const char* key, const char* defaultList) {
            return CodeListToBytes(ini.ReadString(printType, key, defaultList));
        };
        codes.init = code("Init", "27;64");
        codes.endOfPage = code("EndPage", "13;10");
        codes.cut = code("Cut", "94;116");
        codes.autoLink = highSpeed ? std::string() : code("AutoLink", "28;118;1");
        codes.doubleSize = code("DoubleSize", "27;14");
        codes.rowsPrefix = code("prerows", "27;67");
        codes.leftPrefix = code("preleft", "27;108");
    }
    initCode = capped(codes.init, 20);
    autoLinkCode = capped(codes.autoLink, 10);
    doubleSizeCode = capped(codes.doubleSize, 10);
    resetSizeCode = capped(codes.resetSize, 10);
    cutCode = capped(codes.cut, 30);
    rowsPrefix = capped(codes.rowsPrefix, 8);
    leftPrefix = capped(codes.leftPrefix, 8);
    endPageCode = capped(codes.endOfPage, 8);
}

void TPrnCtrl::ReadPaper(const TIniFile& ini) {
    double width = 0;
    double height = 0;
    if (TryStrToFloat(ini.ReadString(printerSection, "Width", "15"), width) &&
        TryStrToFloat(ini.ReadString(printerSection, "Height", "7"), height)) {
        paperWidth = width;
        paperHeight = height;
    } else {
        paperWidth = 15;
        paperHeight = 7;
    }
}

void TPrnCtrl::ComputeCommands() {
    const double w = paperWidth;
    // Lines of one sixth of an inch on the paper's height.
    const double rows = paperHeight * 6 / 2.54;
    const double whole = std::trunc(rows);
    // Each command is a short string of 10 bytes; prefix and first byte fill at most 9.
    const auto command = [](const std::string& prefix, char first) {
        return capped(prefix + first, 9);
    };
    if (printType == "OKI" || printType == "OKIBJ") {
        const double margin = roundEven((w / 2.54 - 25 / 6.7) * 90);
        pageLengthCmd = single ? std::string()
                               : capped(command(rowsPrefix, lowByte(std::trunc(whole / 10))) +
                                            lowByte(std::fmod(whole, 10)),
                                        10);
        leftMarginCmd = margin <= 0 ? std::string()
                                    : capped(command(leftPrefix, lowByte(std::trunc(margin / 10))) +
                                                 lowByte(std::fmod(margin, 10)),
                                             10);
        pageEndCmd = command(endPageCode, lowByte(roundEven((rows - whole) * 20)));
    } else {
        const double margin = roundEven((w * 6.7 / 2.54 - 25) / 2);
        leftMarginCmd = margin <= 0 ? std::string() : command(leftPrefix, lowByte(margin));
        pageLengthCmd = command(rowsPrefix, lowByte(whole));
        pageEndCmd = command(endPageCode, lowByte(roundEven((rows - whole) * 30)));
    }
    if (single)
        pageEndCmd = std::string(1, '\f');
}
