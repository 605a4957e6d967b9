#include "Autoprt.h"

#include "VoucherIni.h"

namespace {

std::unique_ptr<TAutoPrt>& autoPrt() {
    static std::unique_ptr<TAutoPrt> a;
    return a;
}

} // namespace

TAutoPrt::TAutoPrt()
    : settingsFile(std::make_unique<TIniFile>(VoucherIniPath())),
      prnCtrl(std::make_unique<TPrnCtrl>("VOUCHER")) {
    initCode = prnCtrl->initCode;
    pageEnd = prnCtrl->pageEndCmd;
}

TAutoPrt& GetAutoPrt() {
    if (!autoPrt())
        autoPrt() = std::make_unique<TAutoPrt>();
    return *autoPrt();
}

void FreeAutoPrt() {
    autoPrt().reset();
}
