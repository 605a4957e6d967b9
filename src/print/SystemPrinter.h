#pragma once
// The system printer: the default queue of the system's print service, its canvas font
// and its paper, and a text output that writes lines down its pages. The pages are drawn
// into a PDF that goes to the queue as a job of the print service when the output closes,
// so that the service's answer (a job number, or why it refused the job) is known.

#include <QFont>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QPainter;
class QPrinter;
class QTemporaryFile;

class TSystemPrinter {
public:
    TSystemPrinter();
    ~TSystemPrinter();
    TSystemPrinter(const TSystemPrinter&) = delete;
    TSystemPrinter& operator=(const TSystemPrinter&) = delete;

    // Whether the system has a printer at all.
    static bool HasPrinters();

    QFont& CanvasFont() { return font_; }

    // The paper in tenths of a millimetre: the size set last, else the default printer's.
    std::int32_t PaperLength() const;
    std::int32_t PaperWidth() const;
    void SetCustomPaper(std::int32_t length, std::int32_t width);

    // Starts a print job on the default printer; raises EInOutError when it cannot.
    void Open(const QString& documentName);
    // One line in the canvas font below the one before; a full page goes on to the next.
    void WriteLine(const QString& text);
    // Ends the pages and hands the job to the print service. Raises EInOutError when the
    // pages cannot be finished or the service does not take the job; gives a notice for
    // the operator when the job was taken but waits (a stopped printer), else nothing.
    QString Close();
    // Ends the pages and drops them: the print they belong to has failed.
    void Discard();

private:
    QSizeF paper() const;
    void EndPages();

    QFont font_;
    // Width by length, millimetres.
    std::optional<QSizeF> customPaper_;
    QString queue_;
    QString documentName_;
    std::unique_ptr<QTemporaryFile> pdf_;
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<QPainter> painter_;
    qreal y_ = 0;
};
