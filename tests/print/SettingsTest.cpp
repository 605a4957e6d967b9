// The voucher settings file and the printer control codes it gives.

#include "Autoprt.h"
#include "ClsPrint.h"
#include "Encoding.h"
#include "IniFile.h"
#include "PageArgS.h"
#include "PrintFixture.h"

#include <filesystem>

namespace {

using Settings = PrintFixture;

TPrnCtrl ctrlOf(const std::string& ini) {
    return TPrnCtrl(TIniFile::FromBytes(ini));
}

TEST_F(Settings, NoFileGivesTheEpsonDefaults) {
    const TPrnCtrl ctrl("VOUCHER");
    EXPECT_EQ(ctrl.printType, "EPSON");
    EXPECT_EQ(ctrl.typeCode, "3");
    EXPECT_EQ(ctrl.initCode, Bytes({27, 64, 28, 38}));
    EXPECT_EQ(ctrl.autoLinkCode, "");
    EXPECT_EQ(ctrl.pageLengthCmd, Bytes({27, 67, 16}));
    EXPECT_EQ(ctrl.leftMarginCmd, Bytes({27, 108, 7}));
    EXPECT_EQ(ctrl.pageEndCmd, Bytes({27, 74, 16}));
    EXPECT_EQ(ctrl.printMode, "2");
    EXPECT_TRUE(ctrl.highSpeed);
    EXPECT_FALSE(ctrl.single);
    EXPECT_TRUE(ctrl.jiggle);
    EXPECT_EQ(ctrl.paperWidth, 15);
    EXPECT_EQ(ctrl.paperHeight, 7);
    EXPECT_EQ(ctrl.contentWidth, 25);
}

TEST_F(Settings, FamiliesTakeTheirCodesAndCommands) {
    const TPrnCtrl oki = ctrlOf("[PRINTER]\nPRINTTYPE=OKI\n");
    EXPECT_EQ(oki.typeCode, "1");
    EXPECT_EQ(oki.initCode, Bytes({27, 36, 64, 27, 107, 27, 53, 27, 68}));
    EXPECT_EQ(oki.pageLengthCmd, Bytes({27, 70, 1, 6}));
    EXPECT_EQ(oki.leftMarginCmd, Bytes({27, 40, 19, 6}));
    EXPECT_EQ(oki.pageEndCmd, Bytes({12, 27, 37, 53, 11}));
    EXPECT_EQ(oki.doubleSizeCode, Bytes({27, 85}));
    EXPECT_EQ(oki.resetSizeCode, Bytes({27, 82}));

    const TPrnCtrl okibj = ctrlOf("[PRINTER]\nPRINTTYPE=OKIBJ\nHIGHSPEED=0\n");
    EXPECT_EQ(okibj.typeCode, "2");
    EXPECT_EQ(okibj.initCode, Bytes({27, 37, 56, 210, 27, 37, 56, 255}));
    // The cut is two commands of three bytes and an argument each.
    EXPECT_EQ(okibj.cutCode, Bytes({27, 37, 53, 255, 27, 37, 53, 210}));
    EXPECT_EQ(okibj.pageEndCmd, Bytes({27, 37, 53, 11}));

    const TPrnCtrl slow = ctrlOf("[PRINTER]\nHIGHSPEED=0\nINITPRINT=0\n");
    EXPECT_EQ(slow.initCode, Bytes({28, 38}));
    EXPECT_EQ(slow.autoLinkCode, Bytes({28, 118, 1}));
}

TEST_F(Settings, SingleSheetsEndWithAFormFeed) {
    for (const char* type : {"EPSON", "OKI", "OKIBJ", "STAR"}) {
        const TPrnCtrl ctrl = ctrlOf(std::string("[PRINTER]\nPRINTTYPE=") + type + "\nSINGLE=1\n");
        EXPECT_EQ(ctrl.pageEndCmd, "\f") << type;
        const bool oki = std::string(type).rfind("OKI", 0) == 0;
        EXPECT_EQ(ctrl.pageLengthCmd.empty(), oki) << type;
    }
}

TEST_F(Settings, TypeNameCaseDecidesTheTypeCodeOnly) {
    const TPrnCtrl ctrl = ctrlOf("[PRINTER]\nPRINTTYPE=epson\n");
    EXPECT_EQ(ctrl.printType, "EPSON");
    EXPECT_EQ(ctrl.typeCode, "0");
    EXPECT_EQ(ctrl.initCode, Bytes({27, 64, 28, 38}));
    EXPECT_EQ(ctrl.pageEndCmd, Bytes({27, 74, 16}));
}

TEST_F(Settings, CustomTypeReadsItsOwnSection) {
    const TPrnCtrl ctrl =
        ctrlOf("[PRINTER]\nPRINTTYPE=star\nHIGHSPEED=0\n[STAR]\nInit=27;64;27;120;1\n");
    EXPECT_EQ(ctrl.printType, "STAR");
    EXPECT_EQ(ctrl.initCode, Bytes({27, 64, 27, 120, 1}));
    EXPECT_EQ(ctrl.endPageCode, Bytes({13, 10}));
    EXPECT_EQ(ctrl.cutCode, Bytes({94, 116}));
    EXPECT_EQ(ctrl.autoLinkCode, Bytes({28, 118, 1}));
    EXPECT_EQ(ctrl.doubleSizeCode, Bytes({27, 14}));
    EXPECT_EQ(ctrl.resetSizeCode, "");
    EXPECT_EQ(ctrl.pageLengthCmd, Bytes({27, 67, 16}));
    EXPECT_EQ(ctrl.pageEndCmd, Bytes({13, 10, 16}));
    // Codes longer than their field are cut to it.
    std::string longInit = "[PRINTER]\nPRINTTYPE=X\n[X]\nInit=";
    for (int i = 0; i < 30; ++i)
        longInit += std::to_string(i + 1) + ";";
    EXPECT_EQ(ctrlOf(longInit).initCode.size(), 20u);
}

TEST_F(Settings, PaperSizeGivesTheCommands) {
    // 21 by 9.3 cm: R = 21.968..., margin (21 * 6.7 / 2.54 - 25) / 2 = 15.19...
    const TPrnCtrl epson = ctrlOf("[PRINTER]\nWidth=21\nHeight=9.3\n");
    EXPECT_EQ(epson.pageLengthCmd, Bytes({27, 67, 21}));
    EXPECT_EQ(epson.leftMarginCmd, Bytes({27, 108, 15}));
    EXPECT_EQ(epson.pageEndCmd, Bytes({27, 74, 29}));
    // A paper narrower than the voucher line has no left margin.
    EXPECT_EQ(ctrlOf("[PRINTER]\nWidth=9\n").leftMarginCmd, "");
    EXPECT_EQ(ctrlOf("[PRINTER]\nPRINTTYPE=OKI\nWidth=9\n").leftMarginCmd, "");
    // Either size not a number: both fall back to 15 by 7.
    const TPrnCtrl bad = ctrlOf("[PRINTER]\nWidth=21\nHeight=7cm\n");
    EXPECT_EQ(bad.paperWidth, 15);
    EXPECT_EQ(bad.paperHeight, 7);
    EXPECT_EQ(bad.leftMarginCmd, Bytes({27, 108, 7}));
}

TEST_F(Settings, SizesOfAnyNumberAreKept) {
    // Only a text that is no number falls back; a size far past any paper is read as it
    // stands, and one that overflows the rows gives the byte 0 where it would overflow.
    const TPrnCtrl wide = ctrlOf("[PRINTER]\nWidth=2000000\n");
    EXPECT_EQ(wide.paperWidth, 2000000);
    EXPECT_EQ(wide.paperHeight, 7);
    // (2000000 * 6.7 / 2.54 - 25) / 2 = 2637782.98..., rounded 2637783, low byte 0xD7.
    EXPECT_EQ(wide.leftMarginCmd, Bytes({27, 108, 0xD7}));
    const TPrnCtrl huge = ctrlOf("[PRINTER]\nWidth=1e308\nHeight=1e308\n");
    EXPECT_EQ(huge.paperHeight, 1e308);
    EXPECT_EQ(huge.pageLengthCmd, Bytes({27, 67, 0}));
    EXPECT_EQ(huge.pageEndCmd, Bytes({27, 74, 0}));
    EXPECT_EQ(ctrlOf("[PRINTER]\nPRINTTYPE=OKI\nWidth=1e308\nHeight=1e308\n").leftMarginCmd,
              Bytes({27, 40, 0, 0}));
}

TEST_F(Settings, RoundingTakesHalvesToEven) {
    // 2.8575 cm are 6.75 lines: the remainder gives 0.75 * 30 = 22.5, rounded to 22;
    // 0.0635 cm are 0.15 lines: 4.5, rounded to 4.
    const TPrnCtrl tall = ctrlOf("[PRINTER]\nHeight=2.8575\n");
    EXPECT_EQ(tall.pageLengthCmd, Bytes({27, 67, 6}));
    EXPECT_EQ(tall.pageEndCmd, Bytes({27, 74, 22}));
    EXPECT_EQ(ctrlOf("[PRINTER]\nHeight=0.0635\n").pageEndCmd, Bytes({27, 74, 4}));
}

TEST(CodeList, ParsesUpToTheFirstEmptyField) {
    EXPECT_EQ(CodeListToBytes("27;64"), Bytes({27, 64}));
    EXPECT_EQ(CodeListToBytes("27;;64"), Bytes({27}));
    EXPECT_EQ(CodeListToBytes("27;x;300;-1"), Bytes({27, 0, 44, 255}));
    EXPECT_EQ(CodeListToBytes(""), "");
    std::string many;
    for (int i = 0; i < 50; ++i)
        many += "7;";
    EXPECT_EQ(CodeListToBytes(many), std::string(40, '\x07'));
    EXPECT_EQ(CodeListToBytes("99999999999999999999;5"), Bytes({0, 5}));
}

TEST(IniRules, CommentsStandOnLinesOfTheirOwnOfAnyLength) {
    // A ";" after a value belongs to the value.
    const TPrnCtrl star(TIniFile::FromBytes("[PRINTER]\nPRINTTYPE=STAR\n"
                                            "[STAR]\nInit=27 ; 64 ; 27 ; 120 ; 1\n"
                                            "  ; an indented comment\n"
                                            "Cut=1;2 ; 3\n"));
    EXPECT_EQ(star.initCode, Bytes({27, 64, 27, 120, 1}));
    EXPECT_EQ(star.cutCode, Bytes({1, 2, 3}));
    // A comment far longer than any buffer, ending in what looks like a section, stays one
    // line: the key after it is still in PRINTER.
    std::string comment = ";";
    while (comment.size() < 700)
        comment += "打印机设置说明，";
    const TIniFile ini =
        TIniFile::FromBytes("[PRINTER]\n" + comment + "[PrintSet]\n" + "SINGLE=1\n" +
                            "FONTNAME=" + std::string(500, 'x') + "\n");
    EXPECT_TRUE(ini.ReadBool("PRINTER", "SINGLE", false));
    EXPECT_FALSE(ini.ValueExists("PrintSet", "SINGLE"));
    EXPECT_EQ(ini.ReadString("PRINTER", "FONTNAME", ""), std::string(500, 'x'));
    // No line end at the end of the file, a line without "=", an unclosed section.
    const TIniFile rough = TIniFile::FromBytes("[A]\nnothing here\n[B\nk = v ");
    EXPECT_EQ(rough.ReadString("a", "K", ""), "v");
}

TEST(IniRules, ReadsAsThePlatformDoes) {
    const TIniFile ini = TIniFile::FromBytes("; comment\r\n"
                                             "[Printer]\r\n"
                                             "  printType =  oki  \r\n"
                                             "Single=\"1\"\r\n"
                                             "Size=$1F\r\n"
                                             "Neg=-12\r\n"
                                             "Huge=4294967296\r\n"
                                             "Words=yes\r\n"
                                             "Empty=\r\n"
                                             "printtype=EPSON\r\n"
                                             "[other]\r\n"
                                             "a=1\r\n"
                                             "[PRINTER]\r\n"
                                             "Late=1\r\n");
    EXPECT_EQ(ini.ReadString("PRINTER", "PRINTTYPE", ""), "oki");
    EXPECT_TRUE(ini.ReadBool("printer", "SINGLE", false));
    EXPECT_EQ(ini.ReadInteger("PRINTER", "size", 0), 31);
    EXPECT_EQ(ini.ReadInteger("PRINTER", "Neg", 0), -12);
    EXPECT_EQ(ini.ReadInteger("PRINTER", "Huge", 7), 7);
    EXPECT_EQ(ini.ReadInteger("PRINTER", "Words", 7), 7);
    EXPECT_TRUE(ini.ReadBool("PRINTER", "Words", true));
    EXPECT_EQ(ini.ReadString("PRINTER", "Empty", "x"), "");
    EXPECT_EQ(ini.ReadInteger("PRINTER", "Empty", 9), 9);
    EXPECT_FALSE(ini.ValueExists("PRINTER", "Late"));
    EXPECT_EQ(ini.ReadString("Other", "A", ""), "1");
}

TEST_F(Settings, Gb18030FileAndKeysInOtherCase) {
    // "宋体" and "黑体" in the Chinese code page.
    writeIni("[printset]\r\nfontname=\xCB\xCE\xCC\xE5\r\nFONTSIZE=14\r\nprintmethod=0\r\n"
             "[printer]\r\nPrintType=oki\r\nFontName=\xBA\xDA\xCC\xE5\r\nsingle=1\r\n");
    const TPageArg& arg = GetPageArg();
    EXPECT_EQ(arg.fontName, "宋体");
    EXPECT_EQ(arg.fontSize, 14);
    EXPECT_EQ(arg.printMethod, "0");
    const TPrnCtrl ctrl("VOUCHER");
    EXPECT_EQ(ctrl.fontName, "黑体");
    EXPECT_EQ(ctrl.printType, "OKI");
    EXPECT_TRUE(ctrl.single);
    EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBF[a]"), "[a]");
}

TEST_F(Settings, PageArgumentsFallBackFirstAndRaiseLater) {
    // A settings "file" that cannot be read.
    std::filesystem::create_directory(path("uservouc.ini"));
    TPageArg& arg = GetPageArg();
    EXPECT_EQ(arg.printMethod, "2");
    EXPECT_EQ(arg.fontName, "宋体");
    EXPECT_EQ(arg.fontSize, 10);
    EXPECT_EQ(arg.row, 40);
    EXPECT_EQ(arg.col, 70);
    EXPECT_THROW(GetPageArg(), EIniFileError);
    std::filesystem::remove(path("uservouc.ini"));
    writeIni("[PrintSet]\nPrintMethod=1\nRow=30\nTinyFormFeed=5\n");
    EXPECT_EQ(&GetPageArg(), &arg);
    EXPECT_EQ(arg.printMethod, "1");
    EXPECT_EQ(arg.row, 30);
    EXPECT_EQ(arg.tinyFormFeed, 5);
}

TEST_F(Settings, AutomaticVoucherKeepsTheVoucherPrinter) {
    writeIni("[PRINTER]\nPRINTTYPE=OKI\n");
    TAutoPrt& autoPrt = GetAutoPrt();
    EXPECT_EQ(&GetAutoPrt(), &autoPrt);
    EXPECT_EQ(autoPrt.initCode, Bytes({27, 36, 64, 27, 107, 27, 53, 27, 68}));
    EXPECT_EQ(autoPrt.pageEnd, Bytes({12, 27, 37, 53, 11}));
    EXPECT_EQ(autoPrt.formFeed, "\f");
    EXPECT_EQ(autoPrt.flag, 0);
    EXPECT_EQ(autoPrt.printMode, '\0');
    EXPECT_EQ(autoPrt.voucherFormats.size(), 200u);
    EXPECT_EQ(autoPrt.voucherData.size(), 200u);
    EXPECT_EQ(autoPrt.settingsFile->ReadString("printer", "printtype", ""), "OKI");
}

} // namespace
