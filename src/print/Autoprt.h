#pragma once
// TAutoPrt: the automatic voucher. It keeps the settings file open for its life, the
// printer control of the VOUCHER printer with its init and page-end codes, and the tables
// of voucher formats and voucher data.

#include "ClsPrint.h"
#include "IniFile.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

struct TVoucFmt {
    std::int32_t row = 0;
    std::int32_t col = 0;
    std::int32_t width = 0;
    std::string caption;
    std::string field;
    std::string format;
};

struct TVoucData {
    std::string field;
    std::string value;
};

class TAutoPrt {
public:
    TAutoPrt();

    std::unique_ptr<TIniFile> settingsFile;
    std::uint8_t flag = 0;
    std::string initCode;
    std::string formFeed = "\f";
    std::string pageEnd;
    std::array<TVoucFmt, 200> voucherFormats;
    std::array<TVoucData, 200> voucherData;
    char printMode = '\0';
    std::unique_ptr<TPrnCtrl> prnCtrl;
};

// The module's automatic voucher, created on first use.
TAutoPrt& GetAutoPrt();
void FreeAutoPrt();
