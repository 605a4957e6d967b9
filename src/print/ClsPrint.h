#pragma once
// TPrnCtrl: the printer description of uservouc.ini and the control codes of the
// configured printer family, the page-length, page-end and left-margin commands completed
// from the paper size.

#include "IniFile.h"

#include <cstdint>
#include <string>
#include <string_view>

class TPrnCtrl {
public:
    // Reads the voucher settings file of the session's working directory. The section
    // name is kept for the callers' sake: the keys are always those of PRINTER.
    explicit TPrnCtrl(const std::string& sectionName);
    // Reads the given settings.
    explicit TPrnCtrl(const TIniFile& ini);

    std::string printType;
    bool single = false;
    bool highSpeed = true;
    bool initPrint = true;
    std::string rowsPrefix;  // 8 bytes
    std::string endPageCode; // 8 bytes
    std::string leftPrefix;  // 8 bytes
    std::string typeCode;
    std::string printMode;
    std::string fontName;
    std::int32_t fontSize = 0;
    std::int32_t autoToNextPage = 0;
    std::int32_t pageLength = 0;
    std::int32_t pageWidth = 0;
    std::int32_t tinyFormFeed = 0;
    bool jiggle = true;
    std::string initCode;       // 20 bytes
    std::string autoLinkCode;   // 10 bytes
    std::string doubleSizeCode; // 10 bytes
    std::string resetSizeCode;  // 10 bytes
    std::string cutCode;        // 30 bytes
    std::string pageLengthCmd;  // 10 bytes
    std::string pageEndCmd;     // 10 bytes
    std::string leftMarginCmd;  // 10 bytes
    double paperWidth = 15;     // centimetres
    double paperHeight = 7;     // centimetres
    std::int32_t contentWidth = 25;

private:
    void Read(const TIniFile& ini);
    void SetCodes(const TIniFile& ini);
    void ReadPaper(const TIniFile& ini);
    void ComputeCommands();
};

// "EPSON" → "3", "OKIBJ" → "2", "OKI" → "1", any other name → "0"; the name as written.
std::string TypeCodeOf(std::string_view typeName);
// A list of decimal character codes separated by ";" as bytes: one byte per field, up to
// the first empty field and at most 40.
std::string CodeListToBytes(std::string_view codes);
