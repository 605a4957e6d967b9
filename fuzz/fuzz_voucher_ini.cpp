// Reads any bytes as uservouc.ini and computes the printer control codes from them, and
// parses them as a list of control codes.

#include "ClsPrint.h"
#include "IniFile.h"

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
    return 0;
}
