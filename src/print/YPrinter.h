#pragma once
// TYPrinter: writes text vouchers line by line to the system printer (mode "0"), straight
// to a printer device with control codes (mode "1") or to a text file (mode "2"); counts
// lines and pages, breaks pages after a fixed number of lines and calls its event
// handlers at document and page boundaries.

#include "PrinterPort.h"
#include "SystemPrinter.h"

#include <QFile>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TYPrinter {
public:
    enum State : std::uint8_t { Closed = 0, Idle = 1, InEvent = 2 };
    using TPrinterEvent = std::function<void(TYPrinter&)>;

    TYPrinter();
    // A document still open is ended, its errors ignored.
    ~TYPrinter();
    TYPrinter(const TYPrinter&) = delete;
    TYPrinter& operator=(const TYPrinter&) = delete;

    std::uint8_t State() const { return state_; }
    const std::string& Mode() const { return mode_; }

    // Ends an open document first.
    void SetMode(const std::string& mode);
    void SetState(std::uint8_t state) { state_ = state; }
    void SetFontName(const std::string& name);
    void SetFontSize(std::int32_t size);
    void SetType(const std::string& code);

    void BeginDoc();
    void NewPage();
    void WriteLine(const std::string& text);
    void EndPage();
    void EndDoc();

    // The system printer's paper, tenths of a millimetre; 0 keeps the size in use.
    void SetPaper(std::int32_t length, std::int32_t width);
    // The end-of-page code followed by the tiny form feed count.
    std::string PageFeedCode() const;

    TSystemPrinter& SystemPrinter() { return printer_; }

    std::int32_t linesPerPage = 40;
    std::int32_t line = 0;
    std::int32_t page = 0;
    // The last name typed for a file output; it fills the next prompt.
    std::string fileName;
    TPrinterEvent OnBeginDoc;
    TPrinterEvent OnPageStart;
    TPrinterEvent OnPageEnd;
    TPrinterEvent OnEndDoc;
    std::string initCode;
    std::string autoLinkCode;
    std::string doubleSizeCode;
    std::string resetSizeCode;
    std::string cutCode;
    std::string rowsPrefix;
    std::string leftPrefix;
    std::string endPageCode;
    std::string fontName;
    std::int32_t fontSize = 0;
    bool highSpeed = false;
    bool initPrint = true;
    std::int32_t paperLength = 0;
    std::int32_t paperWidth = 0;
    std::int32_t tinyFormFeed = 0;
    bool jiggle = false;
    // The printer device of the direct port.
    std::string device = defaultPrinterDevice;

private:
    enum class Output { None, File, SystemPrinter };

    void ApplyType();
    void OpenFile();
    void OpenSystemPrinter();
    void OpenPort();
    void WriteOutput(const std::string& text);
    // Closes the output; with `reportErrors`, an output that fails to close raises
    // EInOutError.
    void CloseOutput(bool reportErrors);
    void Fire(const TPrinterEvent& event);

    std::uint8_t state_ = Closed;
    std::string mode_;
    std::string type_;
    Output output_ = Output::None;
    QFile file_;
    TSystemPrinter printer_;
    std::unique_ptr<TPrinterPort> port_;
};

// The module's driver, created on first use.
TYPrinter& GetYPrinter();
// Frees the module's driver when there is one.
void FreeYPrinter();
