// The preview and the file-name prompt in a real X window, as the operator sees them: the
// paper's edge painted over the text, a prompt with room for its title and a path that a
// click on its browse button fills, and the toolkit's own buttons in Chinese.

#include "Mshow.h"
#include "OutputFile.h"
#include "PrintFixture.h"
#include "QtChinese.h"
#include "WhenShown.h"
#include "XSession.h"
#include "YPrinter.h"
#include "ui_Mshow.h"
#include "ui_OutputFile.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

class PreviewWindow : public PrintFixture {
protected:
    void SetUp() override {
        PrintFixture::SetUp();
        CreatePrintObjects();
    }
    // The rows of the window's picture on the screen, in the viewport's columns.
    static QImage onScreen(QWidget* widget) {
        const QPoint at = widget->mapToGlobal(QPoint(0, 0));
        return widget->screen()
            ->grabWindow(0, at.x(), at.y(), widget->width(), widget->height())
            .toImage();
    }
    static int redRows(const QImage& picture, int column) {
        int rows = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = std::max(0, column - 1); x <= std::min(picture.width() - 1, column + 1);
                 ++x) {
                const QColor c = picture.pixelColor(x, y);
                if (c.red() > 200 && c.green() < 80 && c.blue() < 80) {
                    ++rows;
                    break;
                }
            }
        }
        return rows;
    }
};

TEST_F(PreviewWindow, PaperEdgeIsMarkedWhereTheLinesRunPast) {
    // 5 cm of paper at 12 points: a voucher line of 300 characters runs past it and past
    // the window.
    writeIni("[PRINTER]\nWidth=5\n[PrintSet]\nFontSize=12\n");
    TfrmShow* form = frmShow();
    form->ui().rtfShow->setPlainText(QString(300, QLatin1Char('8')) + QStringLiteral("\n短行\n"));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    QTest::qWait(200);
    QWidget* viewport = form->ui().rtfShow->viewport();
    const int edge = form->PaperEdgeX();
    // 5 cm from the text's left edge, in the screen's pixels.
    EXPECT_NEAR(edge - form->ui().rtfShow->document()->documentMargin(),
                5 / 2.54 * viewport->logicalDpiX(), 1.5);
    EXPECT_EQ(form->ui().rtfShow->font().pointSize(), 12);
    const QImage picture = onScreen(viewport);
    const int marked = redRows(picture, edge);
    // A dashed line down the whole viewport: about half its rows.
    EXPECT_GT(marked, viewport->height() / 4) << "edge at " << edge;
    EXPECT_EQ(redRows(picture, edge / 2), 0);
    // Scrolled to the right, the mark moves with the text.
    form->ui().rtfShow->horizontalScrollBar()->setValue(40);
    QTest::qWait(200);
    EXPECT_EQ(form->PaperEdgeX(), edge - 40);
    EXPECT_GT(redRows(onScreen(viewport), edge - 40), viewport->height() / 4);
    form->hide();
}

TEST_F(PreviewWindow, FilePromptHasRoomAndABrowseButton) {
    LoadQtChinese(*qApp);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("凭证打印机设置工具"));
    writeIni("[PrintSet]\nPrintMethod=2\n");
    SetOutputFilePrompt(nullptr);
    const QString chosen = QString::fromStdString(path("浏览选的.txt"));
    dialogs->input = chosen;
    bool checked = false;
    WhenShown<TfrmOutputFile>(&frmOutputFile, [&](TfrmOutputFile& prompt) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&prompt));
        // Room for the title and a path; the toolkit's buttons speak Chinese.
        EXPECT_GE(prompt.width(), 520);
        EXPECT_GT(prompt.width(),
                  prompt.fontMetrics().horizontalAdvance(prompt.windowTitle()) + 120);
        EXPECT_EQ(prompt.windowTitle(), QStringLiteral("凭证打印机设置工具"));
        EXPECT_EQ(prompt.ui().lbPrompt->text(), QStringLiteral("输出到文件："));
        EXPECT_EQ(prompt.ui().btnsOkCancel->button(QDialogButtonBox::Ok)->text(),
                  QStringLiteral("确定"));
        EXPECT_EQ(prompt.ui().btnsOkCancel->button(QDialogButtonBox::Cancel)->text(),
                  QStringLiteral("取消"));
        // A click on the browse button, through the X server.
        QPushButton* browse = prompt.ui().btnBrowse;
        const QPoint centre = browse->mapToGlobal(browse->rect().center());
        xwindow::xdotool({"mousemove", "--sync", QString::number(centre.x()),
                          QString::number(centre.y()), "click", "1"});
        QTimer::singleShot(300, &prompt, [&] {
            EXPECT_EQ(prompt.FileName(), chosen);
            checked = true;
            xwindow::xdotool({"key", "Return"});
        });
    });
    frmShow()->ui().rtfShow->setPlainText(QStringLiteral("证券交割单\n"));
    frmShow()->btnPrintClick();
    EXPECT_TRUE(checked);
    EXPECT_EQ(readFile("浏览选的.txt"), "证券交割单\n");
    EXPECT_EQ(GetYPrinter().fileName, chosen.toStdString());
}

} // namespace
