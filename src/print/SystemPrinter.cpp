#include "SystemPrinter.h"

#include "PrintErrors.h"

#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

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

} // namespace

TSystemPrinter::TSystemPrinter() = default;

TSystemPrinter::~TSystemPrinter() {
    Close();
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
    Close();
    const QPrinterInfo info = defaultPrinter();
    if (info.isNull())
        throw EInOutError("没有可用的打印机");
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    printer->setDocName(documentName);
    if (customPaper_) {
        printer->setPageSize(
            QPageSize(*customPaper_, QPageSize::Millimeter, QString(), QPageSize::ExactMatch));
    }
    auto painter = std::make_unique<QPainter>();
    if (!painter->begin(printer.get()))
        throw EInOutError("无法在打印机 " + info.printerName().toStdString() + " 上开始打印");
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

void TSystemPrinter::Close() {
    if (painter_)
        painter_->end();
    painter_.reset();
    printer_.reset();
}
