// Reads any bytes as uservouc.ini and computes the printer control codes from them, checks
// them as the set-up tool does, and parses them as a list of control codes.

#include "ClsPrint.h"
#include "IniFile.h"
#include "SettingsCheck.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TIniFile ini = TIniFile::FromBytes(bytes);
    const TPrnCtrl ctrl(ini);
    // Every code fits its field.
    if (ctrl.initCode.size() > 20 || ctrl.cutCode.size() > 30 || ctrl.pageLengthCmd.size() > 10 ||
        ctrl.pageEndCmd.size() > 10 || ctrl.leftMarginCmd.size() > 10 ||
        ctrl.autoLinkCode.size() > 10 || ctrl.endPageCode.size() > 8)
        __builtin_trap();
    if (CodeListToBytes(bytes).size() > 40)
        __builtin_trap();
    ini.ReadInteger("PrintSet", "FontSize", 12);
    // Every line of the text is one line read, numbered in order.
    const auto lines = ReadIniLines(bytes);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].number != static_cast<int>(i) + 1)
            __builtin_trap();
    }
    CheckVoucherSettings(bytes);
    return 0;
}
