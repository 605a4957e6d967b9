// The output driver through the port seam and the file output.

#include "PrintErrors.h"
#include "PrintFixture.h"
#include "ScriptedPort.h"
#include "YPrinter.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include <vector>

namespace {

class Driver : public PrintFixture {
protected:
    void SetUp() override {
        PrintFixture::SetUp();
        printer = &GetYPrinter();
    }
    // The driver writing into `name` of the test folder.
    void toFile(const std::string& name) {
        printer->SetMode("2");
        dialogs->input = QString::fromStdString(path(name));
    }
    ScriptedDevice device;
    TYPrinter* printer = nullptr;
};

const std::string epsonInit = Bytes({27, 64, 28, 38});

TEST_F(Driver, OnePageDocumentOnThePortGivesItsExactBytes) {
    printer->SetMode("1");
    printer->tinyFormFeed = 3;
    printer->BeginDoc();
    printer->NewPage();
    printer->WriteLine("ACCOUNT 1001");
    printer->WriteLine("AMOUNT 25.00");
    printer->EndPage();
    printer->EndDoc();
    EXPECT_EQ(device.script->written, epsonInit + "\r\n" + "ACCOUNT 1001\r\n" + "AMOUNT 25.00\r\n" +
                                          Bytes({27, 74, 3}) + "\r");
    EXPECT_EQ(device.script->opened, 1);
    EXPECT_EQ(printer->State(), TYPrinter::Closed);
    // The port is released with the document.
    EXPECT_THROW(PortWrite("x"), EInOutError);
}

TEST_F(Driver, ChineseTextReachesThePortInGb18030) {
    printer->SetMode("1");
    printer->initPrint = false;
    printer->BeginDoc();
    printer->WriteLine("交割单 " + Bytes({27, 14}) + "A");
    printer->EndDoc();
    EXPECT_EQ(device.script->written,
              Bytes({0xBD, 0xBB, 0xB8, 0xEE, 0xB5, 0xA5, ' ', 27, 14, 'A', '\r', '\n'}));
}

TEST_F(Driver, TinyFormFeedBeyondAByteGoesInSteps) {
    printer->SetMode("1");
    printer->initPrint = false;
    printer->tinyFormFeed = 300;
    printer->BeginDoc();
    printer->EndPage();
    EXPECT_EQ(device.script->written, Bytes({27, 74, 255, 27, 74, 44, 13}));
    printer->tinyFormFeed = 0;
    EXPECT_EQ(printer->PageFeedCode(), "");
    printer->tinyFormFeed = 512;
    EXPECT_EQ(printer->PageFeedCode(), Bytes({27, 74, 255, 27, 74, 255, 27, 74, 0}));
}

TEST_F(Driver, TypeCodeSetsTheFamilyOnThePort) {
    printer->SetMode("1");
    printer->SetType("2");
    EXPECT_EQ(printer->cutCode, Bytes({27, 37, 53, 255, 27, 37, 53, 210}));
    EXPECT_EQ(printer->endPageCode, Bytes({27, 37, 53}));
    printer->SetType("1");
    EXPECT_EQ(printer->initCode, Bytes({27, 36, 64, 27, 107, 27, 53}));
    // Outside mode "1" the codes stay as they are.
    printer->SetMode("2");
    printer->SetType("3");
    EXPECT_EQ(printer->initCode, Bytes({27, 36, 64, 27, 107, 27, 53}));
}

TEST_F(Driver, FortyFirstLineOfAPageBreaksIt) {
    toFile("pages.txt");
    std::vector<std::string> events;
    printer->OnPageStart = [&](TYPrinter& p) {
        events.push_back("start " + std::to_string(p.page));
        // Header lines inside the event never break a page.
        p.WriteLine("header " + std::to_string(p.page));
    };
    printer->OnPageEnd = [&](TYPrinter& p) { events.push_back("end " + std::to_string(p.page)); };
    printer->BeginDoc();
    std::vector<int> pageOfLine;
    for (int i = 1; i <= 120; ++i) {
        printer->WriteLine("line " + std::to_string(i));
        pageOfLine.push_back(printer->page);
    }
    printer->EndDoc();
    // The header is the first line of every page; a page holds 40 lines, the first one
    // less as the document starts counting at 1.
    EXPECT_EQ(pageOfLine[38 - 1], 1);
    EXPECT_EQ(pageOfLine[39 - 1], 2);
    EXPECT_EQ(pageOfLine[77 - 1], 2);
    EXPECT_EQ(pageOfLine[78 - 1], 3);
    EXPECT_EQ(events, (std::vector<std::string>{"start 1", "end 1", "start 2", "end 2", "start 3",
                                                "end 3", "start 4", "end 4"}));
    const std::string text = readFile("pages.txt");
    EXPECT_NE(text.find("header 2\nline 39\n"), std::string::npos);
    EXPECT_NE(text.find("line 120\n"), std::string::npos);
}

TEST_F(Driver, DoubleSizeLeadIsDroppedOutsideThePort) {
    toFile("lead.txt");
    printer->SetFontSize(11);
    printer->BeginDoc();
    printer->WriteLine(Bytes({27, 64, 27, 14}) + "合计 100");
    printer->WriteLine(Bytes({27, 14}) + "kept");
    printer->EndDoc();
    EXPECT_EQ(readFile("lead.txt"), "合计 100\n" + Bytes({27, 14}) + "kept\n");
    EXPECT_EQ(printer->SystemPrinter().CanvasFont().pointSize(), 11);
}

TEST_F(Driver, PrintMarkedClosedAfterAnAbortStartsAfresh) {
    toFile("aborted.txt");
    printer->BeginDoc();
    printer->WriteLine("half");
    // The preview marks the driver closed before each print.
    printer->SetState(TYPrinter::Closed);
    toFile("next.txt");
    printer->BeginDoc();
    printer->WriteLine("whole");
    printer->EndDoc();
    EXPECT_EQ(readFile("aborted.txt"), "half\n");
    EXPECT_EQ(readFile("next.txt"), "whole\n");
}

TEST_F(Driver, FilePromptIsPrefilledAndCancelAborts) {
    QGuiApplication::setApplicationDisplayName(QStringLiteral("柜台"));
    toFile("first.txt");
    printer->BeginDoc();
    printer->EndDoc();
    EXPECT_EQ(printer->fileName, path("first.txt"));
    dialogs->cancelInput = true;
    try {
        printer->BeginDoc();
        FAIL() << "no abort";
    } catch (const EAbort& e) {
        EXPECT_STREQ(e.what(), "用户取消输出！");
    }
    EXPECT_EQ(dialogs->prefilled, QString::fromStdString(path("first.txt")));
    EXPECT_EQ(dialogs->shown.back().text, QStringLiteral("输出到文件："));
    EXPECT_EQ(printer->State(), TYPrinter::Closed);
}

TEST_F(Driver, PaperOutAsksAndRetriesOrAborts) {
    printer->SetMode("1");
    printer->initPrint = false;
    printer->BeginDoc();
    device.script->status = 0xB8; // selected, paper out, I/O error, not busy
    // OK once the paper is in: the line goes on.
    dialogs->answers = {MessageDialogs::Answer::Ok};
    dialogs->onShow = [&] { device.script->status = 0x90; };
    printer->WriteLine("AB");
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("打印机缺纸！（B8）\r\n继续重试？"));
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[0].buttons, MessageDialogs::Buttons::OkCancel);
    EXPECT_EQ(device.script->written, "AB\r\n");
    // Cancel: a silent abort with the status, nothing more written.
    device.script->status = 0xB8;
    dialogs->onShow = nullptr;
    dialogs->answers = {MessageDialogs::Answer::Cancel};
    try {
        printer->WriteLine("CD");
        FAIL() << "no abort";
    } catch (const EAbort& e) {
        EXPECT_STREQ(e.what(), "打印机缺纸！（B8）");
    }
    EXPECT_EQ(device.script->written, "AB\r\n");
    EXPECT_EQ(dialogs->shown.size(), 2u);
}

TEST(PortStatus, MessagesFollowTheStatusBits) {
    EXPECT_EQ(PortStatusMessage(0x90), "");
    EXPECT_EQ(PortStatusMessage(0x10), "");
    EXPECT_EQ(PortStatusMessage(0x91), "打印机超时！（91）");
    EXPECT_EQ(PortStatusMessage(0xB8), "打印机缺纸！（B8）");
    EXPECT_EQ(PortStatusMessage(0xB0), "打印机没有联机！（B0）");
    EXPECT_EQ(PortStatusMessage(0x88), "打印机没有联机！（88）");
}

TEST(PortStatus, DevicesGiveTheStatusByte) {
    // Parallel port register: not busy, no ack pulse, selected, no error → ready (0x90);
    // with paper out and its error → 0xB8.
    EXPECT_EQ(StatusOfParallelPort(0xD8), 0x90);
    EXPECT_EQ(StatusOfParallelPort(0xF0), 0xB8);
    EXPECT_EQ(PortStatusMessage(StatusOfParallelPort(0xC0)), "打印机没有联机！（88）");
    // Printer class: selected and no error → ready; paper empty with its error → paper out.
    EXPECT_EQ(StatusOfUsbPrinter(0x18), 0x90);
    EXPECT_EQ(StatusOfUsbPrinter(0x30), 0xB8);
}

#if defined(_WIN32)
// On Windows the port is a printer of the spooler by its name, or a capture file by a path
// with a drive.
TEST(PortStatus, SpoolerPrintersOpenOrSayWhyNotAndCaptureFilesKeepTheBytes) {
    TPortError error;
    EXPECT_EQ(OpenPrinterPort("no-such-printer", error), nullptr);
    EXPECT_EQ(error.operation, "OpenPrinter");
    EXPECT_EQ(error.OperatorText(), "无法打开打印机端口 no-such-printer：没有这个设备。");
    QTemporaryDir dir;
    const std::string capture =
        QDir::toNativeSeparators(dir.filePath(QStringLiteral("capture.bin"))).toStdString();
    ASSERT_EQ(capture[1], ':') << capture;
    std::ofstream(capture, std::ios::binary) << "old";
    for (int run = 0; run < 2; ++run) {
        auto file = OpenPrinterPort(capture, error);
        ASSERT_NE(file, nullptr) << error.SystemText();
        EXPECT_EQ(PortStatusMessage(file->Status()), "");
        EXPECT_TRUE(file->Print('\n'));
    }
    std::ifstream in(capture, std::ios::binary);
    // Bytes as they are: no line end becomes CR LF on the way.
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old\n\n");
}
#else
TEST(PortStatus, RealDevicesOpenOrSayWhyNot) {
    TPortError error;
    EXPECT_EQ(OpenPrinterPort("/nonexistent/lp0", error), nullptr);
    // The operator reads the device and the reason in words; the system's own are details.
    EXPECT_EQ(error.OperatorText(), "无法打开打印机端口 /nonexistent/lp0：没有这个设备。");
    EXPECT_EQ(error.SystemText(), "open /nonexistent/lp0: No such file or directory");
    // A device that is no printer stands for one that is ready and takes every byte.
    auto port = OpenPrinterPort("/dev/null", error);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->Status(), 0x90);
    EXPECT_TRUE(port->Print('x'));
    EXPECT_EQ(port->Status(), 0x90);
    // So does a plain file, which keeps the bytes after what it held.
    QTemporaryDir dir;
    const std::string capture = dir.path().toStdString() + "/capture.bin";
    std::ofstream(capture, std::ios::binary) << "old";
    for (int run = 0; run < 2; ++run) {
        auto file = OpenPrinterPort(capture, error);
        ASSERT_NE(file, nullptr) << error.SystemText();
        EXPECT_EQ(PortStatusMessage(file->Status()), "");
        EXPECT_TRUE(file->Print('\x1b'));
    }
    std::ifstream in(capture, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old\x1b\x1b");
    // A device that refuses bytes tells it in the next status.
    auto full = OpenPrinterPort("/dev/full", error);
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(full->Print('x'));
    EXPECT_EQ(PortStatusMessage(full->Status()), "打印机没有联机！（98）");
}
#endif

TEST_F(Driver, PortThatTakesNoByteAsksInsteadOfRetryingForEver) {
    printer->SetMode("1");
    printer->initPrint = false;
    printer->BeginDoc();
    // Ready by every status, yet every byte is refused: the operator is asked each time.
    device.script->refuse = -1;
    dialogs->answers = {MessageDialogs::Answer::Ok, MessageDialogs::Answer::Cancel};
    try {
        printer->WriteLine("AB");
        FAIL() << "no abort";
    } catch (const EAbort& e) {
        EXPECT_STREQ(e.what(), "打印机超时！（91）");
    }
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("打印机超时！（91）\r\n继续重试？"));
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[0].buttons, MessageDialogs::Buttons::OkCancel);
    EXPECT_EQ(device.script->refused, 2);
    EXPECT_EQ(device.script->written, "");
    // A byte refused once and taken after OK: the line goes on whole.
    device.script->refuse = 1;
    dialogs->answers = {MessageDialogs::Answer::Ok};
    printer->WriteLine("CD");
    EXPECT_EQ(device.script->written, "CD\r\n");
    EXPECT_EQ(dialogs->shown.size(), 3u);
}

#if !defined(_WIN32)
// A tmpfs of 16 KiB, mounted for the test when it runs as root.
class SmallDisk {
public:
    SmallDisk() {
        if (geteuid() != 0 || !dir_.isValid())
            return;
        mounted_ = QProcess::execute(QStringLiteral("mount"),
                                     {"-t", "tmpfs", "-o", "size=16k", "tmpfs", dir_.path()}) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            QProcess::execute(QStringLiteral("umount"), {dir_.path()});
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    std::string path(const std::string& name) const {
        return dir_.path().toStdString() + "/" + name;
    }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

TEST_F(Driver, FullDiskIsAnErrorOfThePrint) {
    // The driver's buffer takes the line; the error comes when the file is closed.
    printer->SetMode("2");
    dialogs->input = QStringLiteral("/dev/full");
    printer->BeginDoc();
    printer->WriteLine("凭证");
    try {
        printer->EndDoc();
        FAIL() << "a voucher lost on /dev/full was reported as printed";
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos) << e.what();
    }
    EXPECT_EQ(printer->State(), TYPrinter::Closed);
    const SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << "no small tmpfs (needs root): only /dev/full was tried";
    dialogs->input = QString::fromStdString(disk.path("voucher.txt"));
    printer->BeginDoc();
    // The disk fills while the lines go out or at the end: either way the print fails,
    // with the system's reason.
    try {
        for (int i = 0; i < 2000; ++i)
            printer->WriteLine("客户 张敏 买入 600000 浦发银行 1000股");
        printer->EndDoc();
        FAIL() << "a voucher lost on a full disk was reported as printed";
    } catch (const EInOutError& e) {
        // The operator's words name the file; the system's reason is behind the details.
        EXPECT_EQ(std::string(e.what()), "写文件 " + disk.path("voucher.txt") + " 出错。");
        EXPECT_EQ(e.detail(), std::strerror(ENOSPC));
    }
    // A short voucher fits the buffer: only the close finds the disk full. The preview
    // marks the driver closed before each print.
    printer->SetState(TYPrinter::Closed);
    dialogs->input = QString::fromStdString(disk.path("second.txt"));
    printer->BeginDoc();
    printer->WriteLine("凭证");
    EXPECT_THROW(printer->EndDoc(), EInOutError);
    EXPECT_EQ(printer->State(), TYPrinter::Closed);
}
#endif

TEST_F(Driver, DeviceThatCannotOpenFailsTheDocument) {
    device.script->openable = false;
    printer->SetMode("1");
    printer->device = "/dev/usb/lp3";
    try {
        printer->BeginDoc();
        ADD_FAILURE() << "a device that cannot open began a document";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "无法打开打印机端口 /dev/usb/lp3：没有这个设备。");
        EXPECT_EQ(e.detail(), "open /dev/usb/lp3: No such file or directory");
    }
    EXPECT_EQ(printer->State(), TYPrinter::Closed);
}

TEST_F(Driver, PaperSizeChangesOnlyWithASize) {
    TSystemPrinter& system = printer->SystemPrinter();
    const std::int32_t length = system.PaperLength();
    const std::int32_t width = system.PaperWidth();
    printer->SetPaper(0, 0);
    EXPECT_EQ(system.PaperLength(), length);
    EXPECT_EQ(system.PaperWidth(), width);
    printer->SetPaper(400, 0);
    EXPECT_EQ(system.PaperLength(), 500);
    EXPECT_EQ(system.PaperWidth(), width);
    // Only a 0 keeps the size in use: a negative one is raised to the smallest.
    printer->SetPaper(-5, 300);
    EXPECT_EQ(system.PaperLength(), 500);
    EXPECT_EQ(system.PaperWidth(), 500);
    printer->SetPaper(std::numeric_limits<std::int32_t>::max(), 0);
    EXPECT_EQ(system.PaperLength(), std::numeric_limits<std::int32_t>::max());
    // With jiggle every second change is 2 mm longer.
    printer->jiggle = true;
    std::vector<std::int32_t> lengths;
    for (int i = 0; i < 4; ++i) {
        printer->SetPaper(700, 1500);
        lengths.push_back(system.PaperLength());
    }
    EXPECT_EQ(lengths[0] + lengths[1], 700 + 720);
    EXPECT_EQ(lengths[0], lengths[2]);
    EXPECT_EQ(lengths[1], lengths[3]);
    EXPECT_EQ(system.PaperWidth(), 1500);
}

TEST_F(Driver, FreeingTheDriverEndsAnOpenDocument) {
    toFile("open.txt");
    int ended = 0;
    printer->OnEndDoc = [&](TYPrinter&) {
        ++ended;
        throw std::runtime_error("ignored");
    };
    printer->BeginDoc();
    printer->WriteLine("kept");
    FreeYPrinter();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(readFile("open.txt"), "kept\n");
}

} // namespace
