#include "SystemPrinter.h"

#include "PrintErrors.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <cups/cups.h>

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

// Why a queue holds its jobs back: empty when it prints.
QString stoppedReason(const QByteArray& queue) {
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.constData(), nullptr);
    if (dest == nullptr)
        return {};
    QString reason;
    const char* state = cupsGetOption("printer-state", dest->num_options, dest->options);
    if (state != nullptr && QByteArray(state) == QByteArray::number(IPP_PSTATE_STOPPED)) {
        const char* words =
            cupsGetOption("printer-state-message", dest->num_options, dest->options);
        reason = words != nullptr && *words != '\0' ? QString::fromUtf8(words)
                                                    : QStringLiteral("stopped");
    }
    cupsFreeDests(1, dest);
    return reason;
}

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
    auto pdf =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/voucher-XXXXXX.pdf"));
    if (!pdf->open())
        throw EInOutError("无法建立打印文件：" + pdf->errorString().toStdString());
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf->fileName());
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

QString TSystemPrinter::Close() {
    if (!pdf_)
        return {};
    // The temporary PDF is removed at the end, whatever becomes of the job.
    const std::unique_ptr<QTemporaryFile> pdf = std::move(pdf_);
    EndPages();
    const QByteArray queue = queue_.toUtf8();
    const QByteArray title = documentName_.toUtf8();
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.constData(),
                                   QFile::encodeName(pdf->fileName()).constData(),
                                   title.constData(), 0, nullptr);
    if (job == 0)
        throw EInOutError("打印机 " + queue.toStdString() + " 没有接受打印作业：" +
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
