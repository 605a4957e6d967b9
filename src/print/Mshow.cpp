#include "Mshow.h"

#include "ui_Mshow.h"

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
#include <QPushButton>
#include <QTextEdit>

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
}

TfrmShow::~TfrmShow() = default;

void TfrmShow::Run(void (TfrmShow::*handler)(), int result) {
    try {
        (this->*handler)();
    } catch (const EAbort&) {
        return;
    } catch (const std::exception& e) {
        ShowError(QString::fromStdString(e.what()));
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
    // The direct port needs a printer device this system can open; without one the
    // operator may go on with the system printer.
    if (printer.Mode() == "1" && !PrinterPortAvailable(printer.device)) {
        if (!Confirm(QStringLiteral("WindowsNT系列（包括Widnows2000及后续版本）不能使用Dos中断打印"
                                    "方式,\r您要使用Windows驱动模式打印吗？")))
            return;
        printer.SetMode("0");
    }
    try {
        printer.BeginDoc();
    } catch (const EAbort&) {
        // The operator cancelled the file prompt, or has been told there is no printer.
        return;
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
        throw EInOutError("无法创建文件 " + fileName.toStdString() + "：" +
                          file.errorString().toStdString());
    for (const QString& line : Lines()) {
        const QByteArray bytes = line.toUtf8() + '\n';
        if (file.write(bytes) != bytes.size())
            throw EInOutError("写文件 " + fileName.toStdString() + " 出错：" +
                              file.errorString().toStdString());
    }
    if (!file.flush())
        throw EInOutError("写文件 " + fileName.toStdString() + " 出错：" +
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
