#include "Mshow.h"

#include "ui_Mshow.h"

#include "ClsPrint.h"
#include "EventBarrier.h"
#include "IniFile.h"
#include "MessageDialogs.h"
#include "PageArgS.h"
#include "PrintErrors.h"
#include "PrinterPort.h"
#include "VoucherIni.h"
#include "YPrinter.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace {

constexpr char printSetSection[] = "PrintSet";

// The save prompt's filter as the toolkit writes it: "文本文件|*.txt" → "文本文件 (*.txt)".
QString toolkitFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
    return out.join(QStringLiteral(";;"));
}

// Step 3 of a print on the system printer: the font of the PrintSet section.
void applyPrintSetFont(TYPrinter& printer) {
    std::string name = "宋体";
    std::int32_t size = 12;
    try {
        const TIniFile ini(VoucherIniPath());
        name = ini.ReadString(printSetSection, "FontName", "宋体");
        size = ini.ReadInteger(printSetSection, "FontSize", 12);
    } catch (const EIniFileError&) {
        name = "宋体";
        size = 12;
    }
    printer.SetFontName(name);
    printer.SetFontSize(size);
}

// The device of the direct port, from the PRINTER section.
std::string configuredDevice() {
    try {
        return TIniFile(VoucherIniPath()).ReadString("PRINTER", "DEVICE", defaultPrinterDevice);
    } catch (const EIniFileError&) {
        return defaultPrinterDevice;
    }
}

// The paper's edge over the text: a line at the paper's width from the text's left edge,
// the part beyond it shaded, so that a line running past the paper shows.
class TPaperEdge final : public QWidget {
public:
    // Over the viewport, beside it rather than in it: the viewport's scrolling moves what
    // it holds, and the edge follows the scroll bar instead.
    explicit TPaperEdge(QTextEdit* text) : QWidget(text), text_(text), viewport_(text->viewport()) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        text->viewport()->installEventFilter(this);
        connect(text->horizontalScrollBar(), &QScrollBar::valueChanged, this,
                qOverload<>(&QWidget::update));
        setGeometry(text->viewport()->geometry());
        raise();
    }

    void SetPaperWidth(double centimetres) {
        centimetres_ = centimetres;
        update();
    }
    // The edge in the viewport's pixels.
    int EdgeX() const {
        // A width past any screen is drawn nowhere; clamped, it cannot overflow the pixels.
        const double fromText = std::clamp(centimetres_ / 2.54 * logicalDpiX(), -1e6, 1e6);
        return static_cast<int>(std::lround(text_->document()->documentMargin() + fromText)) -
               text_->horizontalScrollBar()->value();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Only the viewport's own moves count: while the text box is destroyed, its
        // viewport still sends events that must not reach into it.
        if ((event->type() == QEvent::Resize || event->type() == QEvent::Move) &&
            watched == viewport_)
            setGeometry(viewport_->geometry());
        return QWidget::eventFilter(watched, event);
    }
    void paintEvent(QPaintEvent*) override {
        const int x = EdgeX();
        if (x >= width())
            return;
        QPainter painter(this);
        painter.fillRect(QRect(x, 0, width() - x, height()), QColor(128, 128, 128, 48));
        painter.setPen(QPen(Qt::red, 2, Qt::DashLine));
        painter.drawLine(x, 0, x, height());
        painter.drawText(x + 6, painter.fontMetrics().ascent() + 2,
                         QStringLiteral("纸宽 %1 厘米").arg(centimetres_));
    }

private:
    QTextEdit* text_;
    QWidget* viewport_;
    double centimetres_ = 15;
};

// The paper width of the PRINTER section, centimetres.
double configuredPaperWidth() {
    try {
        return TPrnCtrl(TIniFile(VoucherIniPath())).paperWidth;
    } catch (const EIniFileError&) {
        return 15;
    }
}

// The text is shown at the size it prints on the system printer, so that the paper's edge
// falls where it does on paper.
std::int32_t configuredFontSize() {
    try {
        return TIniFile(VoucherIniPath()).ReadInteger(printSetSection, "FontSize", 12);
    } catch (const EIniFileError&) {
        return 12;
    }
}

} // namespace

TfrmShow::TfrmShow(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TfrmShow>()) {
    ui_->setupUi(this);
    // Vouchers line their columns up in characters.
    ui_->rtfShow->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);
    setWindowState(Qt::WindowMaximized);
    // Esc is the cancel button; the form opens on it.
    connect(ui_->btnPrint, &QPushButton::clicked, this,
            [this] { Run(&TfrmShow::btnPrintClick, QDialog::Accepted); });
    connect(ui_->btnPrintToFile, &QPushButton::clicked, this,
            [this] { Run(&TfrmShow::btnPrintToFileClick, QDialog::Accepted); });
    connect(ui_->btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    ui_->btnCancel->setFocus();
    paperEdge_ = new TPaperEdge(ui_->rtfShow);
}

void TfrmShow::showEvent(QShowEvent* event) {
    // The settings may have changed since the preview was last shown.
    QFont font = ui_->rtfShow->font();
    const std::int32_t size = configuredFontSize();
    if (size > 0)
        font.setPointSize(size);
    ui_->rtfShow->setFont(font);
    static_cast<TPaperEdge*>(paperEdge_)->SetPaperWidth(configuredPaperWidth());
    QDialog::showEvent(event);
}

int TfrmShow::PaperEdgeX() const {
    return static_cast<const TPaperEdge*>(paperEdge_)->EdgeX();
}

TfrmShow::~TfrmShow() = default;

void TfrmShow::Run(void (TfrmShow::*handler)(), int result) {
    try {
        (this->*handler)();
    } catch (const EAbort&) {
        return;
    } catch (const std::exception&) {
        // The words for the operator; a service's or the system's own words to the details.
        const EventBarrier::ErrorReport report = EventBarrier::reportOf(std::current_exception());
        ShowError(QString::fromStdString(report.text), QString::fromStdString(report.detail));
        return;
    }
    done(result);
}

QStringList TfrmShow::Lines() const {
    const QString text = ui_->rtfShow->toPlainText();
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(QLatin1Char('\n'));
    // A closing line break ends the last line; it starts no further one.
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void TfrmShow::btnPrintClick() {
    TYPrinter& printer = GetYPrinter();
    printer.SetState(TYPrinter::Closed);
    const std::string method = GetPageArg().printMethod;
    printer.SetMode(method.empty() ? std::string(1, '\0') : method.substr(0, 1));
    if (printer.Mode() == "0")
        applyPrintSetFont(printer);
    printer.device = configuredDevice();
    // The direct port needs a printer device this system can open. Without one the
    // question says which device failed and why, with the system's words behind its
    // details; one dialog, so that the operator's answer is the question's.
    TPortError portError;
    if (printer.Mode() == "1" && !OpenPrinterPort(printer.device, portError)) {
        const auto answer = MessageDialogs::current().showDetailed(
            MessageDialogs::Kind::Confirmation,
            QString::fromStdString(portError.OperatorText()) +
                QStringLiteral("\r\nWindowsNT系列（包括Widnows2000及后续版本）不能使用Dos中断"
                               "打印方式,\r您要使用Windows驱动模式打印吗？"),
            QString::fromStdString(portError.SystemText()), MessageDialogs::Buttons::YesNo);
        if (answer != MessageDialogs::Answer::Yes)
            return;
        printer.SetMode("0");
    }
    try {
        printer.BeginDoc();
    } catch (const EReported&) {
        // There is no printer, and the operator has been told.
        return;
    } catch (const EAbort& e) {
        if (std::string_view(e.what()) == "用户取消输出！")
            return;
        // A printer question cancelled while the init code went out: the print failed.
        throw EInOutError(e.what());
    } catch (const EInOutError&) {
        throw;
    } catch (const std::exception& e) {
        throw EInOutError(e.what());
    }
    printer.NewPage();
    for (const QString& line : Lines())
        printer.WriteLine(line.toStdString());
    printer.EndPage();
    printer.EndDoc();
}

void TfrmShow::btnPrintToFileClick() {
    QString fileName = QStringLiteral("temp.txt");
    if (!MessageDialogs::current().saveFile(
            windowTitle(), toolkitFilter(QStringLiteral("文本文件|*.txt")), fileName))
        return;
    // The default extension joins a name given without one.
    if (QFileInfo(fileName).suffix().isEmpty())
        fileName += QStringLiteral(".txt");
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        throw EInOutError("无法创建文件 " + fileName.toStdString() + "。",
                          file.errorString().toStdString());
    for (const QString& line : Lines()) {
        const QByteArray bytes = line.toUtf8() + '\n';
        if (file.write(bytes) != bytes.size())
            throw EInOutError("写文件 " + fileName.toStdString() + " 出错。",
                              file.errorString().toStdString());
    }
    if (!file.flush())
        throw EInOutError("写文件 " + fileName.toStdString() + " 出错。",
                          file.errorString().toStdString());
}

void TfrmShow::btnCancelClick() {
    reject();
}

void TfrmShow::ExitBtnClick() {
    close();
}

QPointer<TfrmShow>& frmShow() {
    static QPointer<TfrmShow> form;
    return form;
}

void CreatePreviewForm() {
    if (!frmShow())
        frmShow() = new TfrmShow();
}

void FreePreviewForm() {
    delete frmShow().data();
    frmShow() = nullptr;
}
