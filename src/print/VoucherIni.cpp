#include "VoucherIni.h"

#include "ClsPrint.h"
#include "QZForm.h"

std::string VoucherIniPath() {
    // The working directory the host gives ends with its separator; none is inserted.
    return CommonInfo().currentDir + "uservouc.ini";
}

TPrnCtrl::TPrnCtrl(const std::string&) : TPrnCtrl(TIniFile(VoucherIniPath())) {}
