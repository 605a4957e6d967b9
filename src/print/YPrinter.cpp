#include "YPrinter.h"

#include "Encoding.h"
#include "MessageDialogs.h"
#include "OutputFile.h"
#include "PrintErrors.h"
#include "PrinterCodes.h"

#include <QGuiApplication>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Flips on every change of the paper size, so that jiggle alternates the length.
bool paperToggle = false;

// A line that starts with reset and double size (ESC @ ESC SO) is meant for a dot-matrix
// printer; other outputs drop the codes.
constexpr char doubleSizeLead[] = "\x1b@\x1b\x0e";

// Why a write failed: the system's words when it gave any (the toolkit's buffered writes
// lose them), else the file's.
std::string systemError(const QFile& file) {
    return errno != 0 ? std::strerror(errno) : file.errorString().toStdString();
}

std::unique_ptr<TYPrinter>& driver() {
    static std::unique_ptr<TYPrinter> d;
    return d;
}

} // namespace

TYPrinter::TYPrinter() = default;

TYPrinter::~TYPrinter() {
    if (state_ != Closed) {
        try {
            EndDoc();
        } catch (...) {
        }
    }
    CloseOutput(false);
}

void TYPrinter::SetMode(const std::string& mode) {
    if (state_ != Closed)
        EndDoc();
    mode_ = mode;
}

void TYPrinter::SetFontName(const std::string& name) {
    fontName = name;
    printer_.CanvasFont().setFamily(QString::fromStdString(name));
}

void TYPrinter::SetFontSize(std::int32_t size) {
    fontSize = size;
    if (size > 0)
        printer_.CanvasFont().setPointSize(size);
}

void TYPrinter::SetType(const std::string& code) {
    if (code == type_)
        return;
    type_ = code;
    ApplyType();
}

void TYPrinter::ApplyType() {
    if (mode_ != "1")
        return;
    TPrinterFamily family;
    if (type_ == "1")
        family = TPrinterFamily::Oki;
    else if (type_ == "2")
        family = TPrinterFamily::OkiBj;
    else if (type_ == "0" || type_ == "3")
        family = TPrinterFamily::Epson;
    else
        return;
    const TFamilyCodes codes = FamilyCodes(family, highSpeed, initPrint);
    initCode = codes.init;
    autoLinkCode = codes.autoLink;
    doubleSizeCode = codes.doubleSize;
    resetSizeCode = codes.resetSize;
    cutCode = codes.cut;
    rowsPrefix = codes.rowsPrefix;
    leftPrefix = codes.leftPrefix;
    endPageCode = codes.endOfPage;
}

void TYPrinter::Fire(const TPrinterEvent& event) {
    if (event)
        event(*this);
}

void TYPrinter::BeginDoc() {
    if (state_ != Closed)
        EndDoc();
    // An output left open by a print that was aborted and marked closed goes first; that
    // print has failed already, so its closing errors are no news.
    CloseOutput(false);
    ApplyType();
    if (mode_ == "2") {
        OpenFile();
    } else if (mode_ == "0") {
        OpenSystemPrinter();
    } else {
        if (mode_ == "1")
            OpenPort();
        if (initPrint) {
            if (mode_ == "1")
                PortWrite(initCode + "\r\n");
            else
                SetPaper(paperLength, paperWidth);
        }
    }
    line = 1;
    page = 1;
    state_ = InEvent;
    Fire(OnBeginDoc);
    Fire(OnPageStart);
    state_ = Idle;
}

void TYPrinter::OpenFile() {
    QString name = QString::fromStdString(fileName);
    if (!AskOutputFile(QGuiApplication::applicationDisplayName(), QStringLiteral("输出到文件："),
                       name))
        throw EAbort("用户取消输出！");
    fileName = name.toStdString();
    file_.setFileName(name);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EInOutError("无法创建文件 " + fileName + "。", file_.errorString().toStdString());
    output_ = Output::File;
}

void TYPrinter::OpenSystemPrinter() {
    if (!TSystemPrinter::HasPrinters()) {
        ShowError(QStringLiteral("没有安装打印机驱动程序!"));
        // Nothing was opened, so the print stops here; the operator has been told.
        throw EReported("没有安装打印机驱动程序!");
    }
    SetPaper(paperLength, paperWidth);
    printer_.Open(QGuiApplication::applicationDisplayName());
    output_ = Output::SystemPrinter;
}

void TYPrinter::OpenPort() {
    TPortError error;
    port_ = OpenPrinterPort(device, error);
    if (!port_)
        throw EInOutError(error.OperatorText(), error.SystemText());
    SetActivePort(port_.get());
}

void TYPrinter::NewPage() {
    state_ = InEvent;
    ++page;
    Fire(OnPageStart);
    state_ = Idle;
}

void TYPrinter::WriteLine(const std::string& text) {
    if (state_ == Closed)
        return;
    // Inside an event handler the lines are headers and footers: they never break a page.
    if (state_ == Idle) {
        if (line >= linesPerPage)
            EndPage();
        if (line <= 0)
            NewPage();
    }
    if (mode_ == "1") {
        PortWriteLine(ToPrinterBytes(text));
    } else if (text.rfind(doubleSizeLead, 0) == 0) {
        const int size = printer_.CanvasFont().pointSize();
        WriteOutput(text.substr(4));
        if (size > 0)
            printer_.CanvasFont().setPointSize(size);
    } else {
        WriteOutput(text);
    }
    ++line;
}

void TYPrinter::WriteOutput(const std::string& text) {
    switch (output_) {
    case Output::File: {
        const std::string bytes = text + "\n";
        errno = 0;
        if (file_.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()))
            throw EInOutError("写文件 " + fileName + " 出错。", systemError(file_));
        break;
    }
    case Output::SystemPrinter:
        printer_.WriteLine(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        break;
    case Output::None:
        throw EInOutError("打印输出没有打开");
    }
}

void TYPrinter::EndPage() {
    state_ = InEvent;
    if (mode_ == "1")
        PortWrite(PageFeedCode() + "\r");
    else
        Fire(OnPageEnd);
    line = 0;
    state_ = Idle;
}

void TYPrinter::EndDoc() {
    // The system printer's last page ends with the document's own end.
    if (line > 0 && OnPageEnd && !(mode_ == "0" && OnEndDoc))
        OnPageEnd(*this);
    state_ = InEvent;
    Fire(OnEndDoc);
    state_ = Closed;
    // The last bytes of a file, and the job of the system printer, leave only here: an
    // error of closing is an error of the print.
    CloseOutput(true);
}

void TYPrinter::CloseOutput(bool reportErrors) {
    if (mode_ == "1" || port_) {
        SetActivePort(nullptr);
        port_.reset();
    }
    const Output output = std::exchange(output_, Output::None);
    switch (output) {
    case Output::File: {
        errno = 0;
        const bool flushed = file_.flush();
        const std::string flushError = flushed ? std::string() : systemError(file_);
        file_.close();
        if (reportErrors && (!flushed || file_.error() != QFileDevice::NoError))
            throw EInOutError("写文件 " + fileName + " 出错。",
                              flushed ? systemError(file_) : flushError);
        break;
    }
    case Output::SystemPrinter:
        if (!reportErrors) {
            printer_.Discard();
        } else if (const QString notice = printer_.Close(); !notice.isEmpty()) {
            // The job was taken and waits: printing it again would give two vouchers.
            ShowWarning(notice);
        }
        break;
    case Output::None:
        break;
    }
}

void TYPrinter::SetPaper(std::int32_t length, std::int32_t width) {
    if (length <= 0 && width <= 0)
        return;
    // Only a 0 keeps the size in use; a negative size becomes the smallest one below.
    if (length == 0)
        length = printer_.PaperLength();
    if (width == 0)
        width = printer_.PaperWidth();
    paperToggle = !paperToggle;
    width = std::max(width, 500);
    // The jiggle's 20 cannot overflow a length near the largest integer.
    length = std::max(length, 500);
    if (jiggle && paperToggle && length <= std::numeric_limits<std::int32_t>::max() - 20)
        length += 20;
    printer_.SetCustomPaper(length, width);
}

std::string TYPrinter::PageFeedCode() const {
    const std::int32_t n = tinyFormFeed;
    if (n <= 0)
        return {};
    if (n < 256)
        return endPageCode + static_cast<char>(n);
    std::string code;
    for (std::int32_t i = 0; i < n / 256; ++i)
        code += endPageCode + static_cast<char>(255);
    return code + endPageCode + static_cast<char>(n % 256);
}

TYPrinter& GetYPrinter() {
    if (!driver()) {
        driver() = std::make_unique<TYPrinter>();
        driver()->SetType("0");
    }
    return *driver();
}

void FreeYPrinter() {
    driver().reset();
}
