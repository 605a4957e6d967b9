// Printing on the system printer: a private print service with a PDF queue as the default
// printer, the voucher read back from the PDF; and the same service without any printer.

#include "Mshow.h"
#include "PrintErrors.h"
#include "PrintFixture.h"
#include "PrivateCups.h"
#include "ScriptedPort.h"
#include "YPrinter.h"
#include "ui_Mshow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextEdit>

#include <memory>

namespace {

class SystemPrinting : public PrintFixture {
protected:
    static void SetUpTestSuite() {
        cups = std::make_unique<PrivateCups>();
        // Every print service call of this process goes to the private scheduler.
        qputenv("CUPS_SERVER", cups->server().toLocal8Bit());
    }
    static void TearDownTestSuite() { cups.reset(); }

    void SetUp() override {
        PrintFixture::SetUp();
        ASSERT_TRUE(cups->running()) << cups->error().toStdString();
        // A title of this run, that the PDF file is named after.
        title = QStringLiteral("marlovoucher%1").arg(QCoreApplication::applicationPid());
        QGuiApplication::setApplicationDisplayName(title);
        CreatePrintObjects();
    }

    void printPreview(const QString& text) {
        frmShow()->ui().rtfShow->setPlainText(text);
        frmShow()->btnPrintClick();
    }

    static std::unique_ptr<PrivateCups> cups;
    QString title;
};

std::unique_ptr<PrivateCups> SystemPrinting::cups;

const QString voucher = QStringLiteral("证券交割单\n"
                                       "客户号 10010001  客户 张敏\n"
                                       "买入 600000 浦发银行 1000股\n"
                                       "成交金额 7,520.00\n");

TEST_F(SystemPrinting, VoucherPrintsOnTheDefaultPrinter) {
    ASSERT_TRUE(cups->RemoveQueues() && cups->AddPdfQueue()) << cups->error().toStdString();
    writeIni("[PrintSet]\nPrintMethod=0\nFontName=宋体\nFontSize=14\n");
    printPreview(voucher);
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_EQ(GetYPrinter().SystemPrinter().CanvasFont().pointSize(), 14);
    const QString text = cups->TakePdf(title, 40000).text;
    ASSERT_FALSE(text.isEmpty()) << "no PDF came out of the queue";
    for (const QString& line : voucher.split('\n', Qt::SkipEmptyParts)) {
        for (const QString& word : line.split(' ', Qt::SkipEmptyParts))
            EXPECT_TRUE(text.contains(word)) << word.toStdString() << " in\n" << text.toStdString();
    }
}

TEST_F(SystemPrinting, PortQuestionAnsweredYesPrintsOnTheSystemPrinter) {
    ASSERT_TRUE(cups->RemoveQueues() && cups->AddPdfQueue()) << cups->error().toStdString();
    writeIni("[PrintSet]\nPrintMethod=1\nFontSize=30\n[PRINTER]\nDEVICE=/dev/usb/lp9\n");
    ScriptedDevice device;
    device.script->openable = false;
    dialogs->answers = {MessageDialogs::Answer::Yes};
    printPreview(QStringLiteral("直连打印转系统打印机\n"));
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(GetYPrinter().Mode(), "0");
    // The font of PrintSet belongs to a print begun on the system printer; this one was not.
    EXPECT_NE(GetYPrinter().SystemPrinter().CanvasFont().pointSize(), 30);
    EXPECT_EQ(device.script->written, "");
    const QString text = cups->TakePdf(title, 40000).text;
    EXPECT_TRUE(text.contains(QStringLiteral("直连打印转系统打印机"))) << text.toStdString();
}

TEST_F(SystemPrinting, PaperSizeReachesThePrinter) {
    ASSERT_TRUE(cups->RemoveQueues() && cups->AddPdfQueue()) << cups->error().toStdString();
    TYPrinter& printer = GetYPrinter();
    printer.SetMode("0");
    // A voucher 150 mm wide and 72 mm long.
    printer.paperLength = 720;
    printer.paperWidth = 1500;
    printer.SetFontName("宋体");
    printer.SetFontSize(10);
    printer.BeginDoc();
    printer.WriteLine("纸张 150 x 72 mm");
    printer.EndDoc();
    const PrivateCups::Pdf pdf = cups->TakePdf(title, 40000);
    EXPECT_TRUE(pdf.text.contains(QStringLiteral("纸张"))) << pdf.text.toStdString();
    // 150 mm and 72 mm in points.
    EXPECT_NEAR(pdf.pageSize.width(), 425.2, 1.5);
    EXPECT_NEAR(pdf.pageSize.height(), 204.1, 1.5);
}

TEST_F(SystemPrinting, RefusedJobIsAnErrorAndNotAVoucher) {
    ASSERT_TRUE(cups->RemoveQueues() && cups->AddPdfQueue() && cups->RefuseJobs("维修中"))
        << cups->error().toStdString();
    writeIni("[PrintSet]\nPrintMethod=0\n");
    frmShow()->ui().rtfShow->setPlainText(voucher);
    frmShow()->ui().btnPrint->click();
    // The operator reads that the queue refused the job, with the service's words.
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Error);
    EXPECT_EQ(dialogs->shown[0].text,
              QStringLiteral("打印机 MarloVoucherPDF 没有接受打印作业，凭证没有打出。"));
    // The service's own words are behind the details.
    ASSERT_EQ(dialogs->details.count(0), 1u);
    EXPECT_FALSE(dialogs->details.at(0).isEmpty());
    EXPECT_EQ(GetYPrinter().State(), TYPrinter::Closed);
    EXPECT_TRUE(cups->TakePdf(title, 1500).text.isEmpty());
    // The driver on its own raises it from the end of the document.
    TYPrinter& printer = GetYPrinter();
    printer.SetMode("0");
    printer.BeginDoc();
    printer.WriteLine("凭证");
    EXPECT_THROW(printer.EndDoc(), EInOutError);
}

TEST_F(SystemPrinting, StoppedQueueSaysTheJobWaits) {
    ASSERT_TRUE(cups->RemoveQueues() && cups->AddPdfQueue() && cups->StopQueue("缺纸"))
        << cups->error().toStdString();
    writeIni("[PrintSet]\nPrintMethod=0\n");
    printPreview(voucher);
    // Taken and held: the operator is told so, and is not led to print it twice.
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_TRUE(dialogs->shown[0].text.contains(QStringLiteral("打印机已停止")))
        << dialogs->shown[0].text.toStdString();
    EXPECT_TRUE(dialogs->shown[0].text.contains(QStringLiteral("缺纸")))
        << dialogs->shown[0].text.toStdString();
    EXPECT_TRUE(cups->TakePdf(title, 1500).text.isEmpty());
}

TEST_F(SystemPrinting, NoPrinterGivesOneDialogAndNothingElse) {
    ASSERT_TRUE(cups->RemoveQueues()) << cups->error().toStdString();
    writeIni("[PrintSet]\nPrintMethod=0\n");
    printPreview(voucher);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("没有安装打印机驱动程序!"));
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Error);
    EXPECT_EQ(dialogs->shown[0].buttons, MessageDialogs::Buttons::Ok);
    EXPECT_EQ(GetYPrinter().State(), TYPrinter::Closed);
    // The driver on its own stops the document as quietly.
    TYPrinter& printer = GetYPrinter();
    printer.SetMode("0");
    EXPECT_THROW(printer.BeginDoc(), EAbort);
    EXPECT_EQ(printer.State(), TYPrinter::Closed);
}

} // namespace
