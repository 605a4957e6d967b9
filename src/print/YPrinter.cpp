#include "YPrinter.h"

#include "Encoding.h"
#include "MessageDialogs.h"
#include "PrintErrors.h"
#include "PrinterCodes.h"

#include <QGuiApplication>

#include <algorithm>

namespace {

// Flips on every change of the paper size, so that jiggle alternates the length.
bool paperToggle = false;

// A line that starts with reset and double size (ESC @ ESC SO) is meant for a dot-matrix
// printer; other outputs drop the codes.
constexpr char doubleSizeLead[] = "\x1b@\x1b\x0e";

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
    CloseOutput();
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
    // An output left open by a print that was aborted and marked closed goes first.
    CloseOutput();
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
    if (!MessageDialogs::current().inputQuery(QGuiApplication::applicationDisplayName(),
                                              QStringLiteral("输出到文件："), name))
        throw EAbort("用户取消输出！");
    fileName = name.toStdString();
    file_.setFileName(name);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EInOutError("无法创建文件 " + fileName + "：" + file_.errorString().toStdString());
    output_ = Output::File;
}

void TYPrinter::OpenSystemPrinter() {
    if (!TSystemPrinter::HasPrinters()) {
        ShowError(QStringLiteral("没有安装打印机驱动程序!"));
        // Nothing was opened, so the print stops here; the operator has been told.
        throw EAbort("没有安装打印机驱动程序!");
    }
    SetPaper(paperLength, paperWidth);
    printer_.Open(QGuiApplication::applicationDisplayName());
    output_ = Output::SystemPrinter;
}

void TYPrinter::OpenPort() {
    std::string error;
    port_ = OpenPrinterPort(device, error);
    if (!port_)
        throw EInOutError("无法打开打印机端口 " + error);
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
        if (file_.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()))
            throw EInOutError("写文件 " + fileName + " 出错：" + file_.errorString().toStdString());
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
    CloseOutput();
    state_ = Closed;
}

void TYPrinter::CloseOutput() {
    if (mode_ == "1" || port_) {
        SetActivePort(nullptr);
        port_.reset();
    }
    switch (output_) {
    case Output::File:
        file_.close();
        break;
    case Output::SystemPrinter:
        printer_.Close();
        break;
    case Output::None:
        break;
    }
    output_ = Output::None;
}

void TYPrinter::SetPaper(std::int32_t length, std::int32_t width) {
    if (length <= 0 && width <= 0)
        return;
    if (length <= 0)
        length = printer_.PaperLength();
    if (width <= 0)
        width = printer_.PaperWidth();
    paperToggle = !paperToggle;
    width = std::max(width, 500);
    length = std::max(length, 500) + (jiggle && paperToggle ? 20 : 0);
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
