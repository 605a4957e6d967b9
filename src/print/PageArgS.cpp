#include "PageArgS.h"

#include "IniFile.h"
#include "VoucherIni.h"

#include <memory>

namespace {

constexpr char printSetSection[] = "PrintSet";

std::unique_ptr<TPageArg>& pageArg() {
    static std::unique_ptr<TPageArg> p;
    return p;
}

} // namespace

TPageArg::TPageArg() {
    try {
        Read();
    } catch (...) {
        SetFallback();
    }
}

void TPageArg::Read() {
    ReadFrom(TIniFile(VoucherIniPath()));
}

void TPageArg::ReadFrom(const TIniFile& ini) {
    printer = ini.ReadString(printSetSection, "Printer", "3");
    printMethod = ini.ReadString(printSetSection, "PrintMethod", "2");
    row = ini.ReadInteger(printSetSection, "Row", 40);
    col = ini.ReadInteger(printSetSection, "Col", 70);
    fontName = ini.ReadString(printSetSection, "FontName", "宋体");
    fontSize = ini.ReadInteger(printSetSection, "FontSize", 10);
    zzdzType = ini.ReadString(printSetSection, "ZzdzType", "0");
    autoToNextPage = ini.ReadInteger(printSetSection, "AutoToNextPage", 0);
    pageLength = ini.ReadInteger(printSetSection, "PageLength", 0);
    pageWidth = ini.ReadInteger(printSetSection, "PageWidth", 0);
    tinyFormFeed = ini.ReadInteger(printSetSection, "TinyFormFeed", 0);
}

void TPageArg::SetFallback() {
    printer = "3";
    printMethod = "2";
    row = 40;
    col = 70;
    fontName = "宋体";
    fontSize = 10;
    zzdzType = "0";
    autoToNextPage = 0;
    pageLength = 0;
    pageWidth = 0;
    tinyFormFeed = 0;
}

TPageArg& GetPageArg() {
    if (!pageArg())
        pageArg() = std::make_unique<TPageArg>();
    else
        pageArg()->Read();
    return *pageArg();
}

void FreePageArg() {
    pageArg().reset();
}
