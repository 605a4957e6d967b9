#pragma once
// The control codes of the three printer families the module knows, shared by the printer
// settings and the output driver.

#include <string>

enum class TPrinterFamily { Epson, Oki, OkiBj };

struct TFamilyCodes {
    std::string init;
    std::string autoLink;
    std::string doubleSize;
    std::string resetSize;
    std::string cut;
    std::string rowsPrefix;
    std::string leftPrefix;
    std::string endOfPage;
};

TFamilyCodes FamilyCodes(TPrinterFamily family, bool highSpeed, bool initPrint);
