#include "SystemPrinter.h"

#include "PrintErrors.h"
#include "WaitCursor.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#if !defined(_WIN32)
#include <cups/cups.h>
#endif

#include <cmath>

namespace {

QPrinterInfo defaultPrinter() {
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        const QList<QPrinterInfo> all = QPrinterInfo::availablePrinters();
        if (!all.isEmpty())
            info = all.first();
    }
    return info;
}

std::int32_t tenthsOfMm(qreal mm) {
    return static_cast<std::int32_t>(std::lround(mm * 10));
}

#if !defined(_WIN32)
// The print service's words for its last refusal.
QString serviceError() {
    return QString::fromUtf8(cupsLastErrorString());
}

// The state of a job the service took: aborted and cancelled jobs print nothing.
bool jobFailed(const QByteArray& queue, int job) {
    cups_job_t* jobs = nullptr;
    const int count =
        cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.constData(), 1, CUPS_WHICHJOBS_ALL);
    bool failed = false;
    for (int i = 0; i < count; ++i) {
        if (jobs[i].id == job)
            failed = jobs[i].state == IPP_JSTATE_ABORTED || jobs[i].state == IPP_JSTATE_CANCELED;
    }
    cupsFreeJobs(count, jobs);
    return failed;
}

// Why a queue holds its jobs back (the reason its keeper gave, else "stopped"); empty
// when it prints.
QString stoppedReason(const QByteArray& queue) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                     "/printers/%s", queue.constData());
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char* const wanted[] = {"printer-state", "printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  wanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (response == nullptr)
        return {};
    QString reason;
    ipp_attribute_t* state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
    if (state != nullptr && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED) {
        ipp_attribute_t* words = ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT);
        const char* text = words != nullptr ? ippGetString(words, 0, nullptr) : nullptr;
        reason = text != nullptr && *text != '\0' ? QString::fromUtf8(text)
                                                  : QStringLiteral("没有说明原因");
    }
    ippDelete(response);
    return reason;
}

// The job's paper: the size the pages were drawn on, for the queue not to fit them to its
// own default paper.
QByteArray mediaOption(const QSizeF& millimetres) {
    return "Custom." + QByteArray::number(millimetres.width(), 'f', 1) + "x" +
           QByteArray::number(millimetres.height(), 'f', 1) + "mm";
}

#endif

} // namespace

TSystemPrinter::TSystemPrinter() = default;

TSystemPrinter::~TSystemPrinter() {
    Discard();
}

bool TSystemPrinter::HasPrinters() {
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

QSizeF TSystemPrinter::paper() const {
    if (customPaper_)
        return *customPaper_;
    const QPrinterInfo info = defaultPrinter();
    const QPageSize size = info.isNull() ? QPageSize(QPageSize::A4) : info.defaultPageSize();
    return size.size(QPageSize::Millimeter);
}

std::int32_t TSystemPrinter::PaperLength() const {
    return tenthsOfMm(paper().height());
}

std::int32_t TSystemPrinter::PaperWidth() const {
    return tenthsOfMm(paper().width());
}

void TSystemPrinter::SetCustomPaper(std::int32_t length, std::int32_t width) {
    customPaper_ = QSizeF(width / 10.0, length / 10.0);
}

void TSystemPrinter::Open(const QString& documentName) {
    Discard();
    const QPrinterInfo info = defaultPrinter();
    if (info.isNull())
        throw EInOutError("没有可用的打印机");
#if defined(_WIN32)
    // The pages go to the printer's spooler through Qt's own print engine, which starts
    // the job here and hands it over when the painter ends.
    auto pdf = std::unique_ptr<QTemporaryFile>();
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::NativeFormat);
#else
    auto pdf =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/voucher-XXXXXX.pdf"));
    if (!pdf->open())
        throw EInOutError("无法建立打印文件。", pdf->errorString().toStdString());
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf->fileName());
#endif
    printer->setDocName(documentName);
    printer->setFullPage(false);
    printer->setPageSize(
        QPageSize(paper(), QPageSize::Millimeter, QString(), QPageSize::ExactMatch));
    auto painter = std::make_unique<QPainter>();
    if (!painter->begin(printer.get()))
        throw EInOutError("无法在打印机 " + info.printerName().toStdString() + " 上开始打印");
    queue_ = info.printerName();
    documentName_ = documentName;
    pdf_ = std::move(pdf);
    printer_ = std::move(printer);
    painter_ = std::move(painter);
    y_ = 0;
}

void TSystemPrinter::WriteLine(const QString& text) {
    if (!painter_)
        throw EInOutError("打印机输出没有打开");
    painter_->setFont(font_);
    const QFontMetricsF metrics(font_, printer_.get());
    const qreal pageHeight = printer_->pageRect(QPrinter::DevicePixel).height();
    if (y_ > 0 && y_ + metrics.lineSpacing() > pageHeight) {
        if (!printer_->newPage())
            throw EInOutError("打印机不能换页");
        y_ = 0;
    }
    painter_->drawText(QPointF(0, y_ + metrics.ascent()), text);
    y_ += metrics.lineSpacing();
}

void TSystemPrinter::EndPages() {
    const bool ended = !painter_ || painter_->end();
    painter_.reset();
    printer_.reset();
    if (!ended)
        throw EInOutError("打印页面没有写完");
}

void TSystemPrinter::Discard() {
    if (painter_)
        painter_->end();
    painter_.reset();
    printer_.reset();
    pdf_.reset();
}

#if defined(_WIN32)
QString TSystemPrinter::Close() {
    if (!printer_)
        return {};
    const WaitCursor wait; // the hourglass while the spooler takes the job
    // The spooler refusing the job's end is the painter failing to end.
    EndPages();
    return {};
}
#else
QString TSystemPrinter::Close() {
    if (!pdf_)
        return {};
    // The temporary PDF is removed at the end, whatever becomes of the job.
    const std::unique_ptr<QTemporaryFile> pdf = std::move(pdf_);
    const WaitCursor wait; // the hourglass while the print service is asked
    EndPages();
    const QByteArray queue = queue_.toUtf8();
    const QByteArray title = documentName_.toUtf8();
    cups_option_t* options = nullptr;
    int optionCount = 0;
    if (customPaper_)
        optionCount =
            cupsAddOption("media", mediaOption(*customPaper_).constData(), optionCount, &options);
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.constData(),
                                   QFile::encodeName(pdf->fileName()).constData(),
                                   title.constData(), optionCount, options);
    cupsFreeOptions(optionCount, options);
    if (job == 0)
        throw EInOutError("打印机 " + queue.toStdString() + " 没有接受打印作业，凭证没有打出。",
                          serviceError().toStdString());
    if (jobFailed(queue, job))
        throw EInOutError("打印机 " + queue.toStdString() + " 的打印作业 " + std::to_string(job) +
                          " 失败，凭证没有打出");
    const QString reason = stoppedReason(queue);
    if (reason.isEmpty())
        return {};
    return QStringLiteral(
               "打印作业 %1 已送到打印机 %2，但打印机已停止，凭证要等打印机恢复后才打出。\n%3")
        .arg(job)
        .arg(queue_, reason);
}
#endif
