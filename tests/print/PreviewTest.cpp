// The preview form: its layout, its print command through every output it may take, its
// file button, and its life with the module.

#include "C_Marlo.h"
#include "ModuleLifecycle.h"
#include "Mshow.h"
#include "PrintFixture.h"
#include "ScriptedPort.h"
#include "YPrinter.h"
#include "progress.h"
#include "ui_Mshow.h"
#include "ui_progress.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include <filesystem>
#include <vector>

namespace {

const QString portQuestion =
    QStringLiteral("WindowsNT系列（包括Widnows2000及后续版本）不能使用Dos中断打印方式,\r"
                   "您要使用Windows驱动模式打印吗？");

class Preview : public PrintFixture {
protected:
    void SetUp() override {
        PrintFixture::SetUp();
        CreatePrintObjects();
        form = frmShow();
        ASSERT_NE(form, nullptr);
    }
    void show(const QString& text) {
        form->ui().rtfShow->setPlainText(text);
        form->show();
    }
    bool anyDialogOpen() const {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w != form && w->isVisible())
                return true;
        }
        return false;
    }
    ScriptedDevice device;
    TfrmShow* form = nullptr;
};

TEST_F(Preview, FormCarriesItsControls) {
    Ui::TfrmShow& ui = form->ui();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("模拟显示"));
    EXPECT_TRUE(ui.rtfShow->isReadOnly());
    EXPECT_EQ(ui.rtfShow->lineWrapMode(), QTextEdit::NoWrap);
    EXPECT_EQ(ui.btnPrint->text(), QStringLiteral("打印(&P)"));
    EXPECT_EQ(ui.btnPrintToFile->text(), QStringLiteral("文件(&F)"));
    EXPECT_EQ(ui.btnCancel->text(), QStringLiteral("取消(&C)"));
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(form->parent(), nullptr);
    show(QStringLiteral("证券交割单\n客户 张敏    金额 7,520.00\n"));
    QDir().mkpath(QStringLiteral(SCREEN_DIR));
    EXPECT_TRUE(form->grab().save(QStringLiteral(SCREEN_DIR "/voucher-preview.png")));
    ui.btnCancel->click();
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_FALSE(form->isVisible());
    form->show();
    form->ExitBtnClick();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(Preview, CancelledFilePromptLeavesNoDialogBehind) {
    writeIni("[PrintSet]\nPrintMethod=2\n");
    dialogs->cancelInput = true;
    show(QStringLiteral("客户 张敏\n金额 100.00\n"));
    form->ui().btnPrint->click();
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("输出到文件："));
    EXPECT_FALSE(anyDialogOpen());
    EXPECT_EQ(GetYPrinter().State(), TYPrinter::Closed);
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(Preview, FileModeWritesTheVoucherAndRereadsTheSettings) {
    writeIni("[PrintSet]\nPrintMethod=2\n");
    dialogs->input = QString::fromStdString(path("voucher.txt"));
    show(QStringLiteral("客户 张敏\n金额 100.00\n"));
    form->btnPrintClick();
    EXPECT_EQ(readFile("voucher.txt"), "客户 张敏\n金额 100.00\n");
    // An edit of the settings counts from the next print.
    writeIni("[PrintSet]\nPrintMethod=1\n");
    form->btnPrintClick();
    EXPECT_EQ(device.script->written, Bytes({27, 64, 28, 38}) + "\r\n" +
                                          "\xBF\xCD\xBB\xA7 \xD5\xC5\xC3\xF4\r\n" +
                                          "\xBD\xF0\xB6\xEE 100.00\r\n\r");
}

TEST_F(Preview, PortThatCannotOpenIsNamedInTheQuestionAndNoPrintsNothing) {
    writeIni("[PrintSet]\nPrintMethod=1\n[PRINTER]\nDEVICE=/dev/usb/lp7\n");
    device.script->openable = false;
    int begun = 0;
    GetYPrinter().OnBeginDoc = [&](TYPrinter&) { ++begun; };
    // The operator's one answer, No, is the question's: no warning comes first to take it.
    dialogs->answers = {MessageDialogs::Answer::No};
    show(QStringLiteral("line"));
    form->ui().btnPrint->click();
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Confirmation);
    EXPECT_EQ(dialogs->shown[0].buttons, MessageDialogs::Buttons::YesNo);
    // The device and the reason in words, then the question; the system's words behind it.
    EXPECT_EQ(dialogs->shown[0].text,
              QStringLiteral("无法打开打印机端口 /dev/usb/lp7：没有这个设备。\r\n") + portQuestion);
    EXPECT_EQ(dialogs->details[0], QStringLiteral("open /dev/usb/lp7: No such file or directory"));
    EXPECT_EQ(GetYPrinter().device, "/dev/usb/lp7");
    EXPECT_EQ(GetYPrinter().Mode(), "1");
    EXPECT_EQ(GetYPrinter().State(), TYPrinter::Closed);
    EXPECT_EQ(begun, 0);
    EXPECT_EQ(device.script->written, "");
}

TEST_F(Preview, EmptyPreviewPrintsPageEventsAndNoLines) {
    writeIni("[PrintSet]\nPrintMethod=2\n");
    dialogs->input = QString::fromStdString(path("empty.txt"));
    std::vector<std::string> events;
    TYPrinter& printer = GetYPrinter();
    printer.OnBeginDoc = [&](TYPrinter&) { events.push_back("begin"); };
    printer.OnPageStart = [&](TYPrinter& p) {
        events.push_back("start " + std::to_string(p.page));
    };
    printer.OnPageEnd = [&](TYPrinter& p) { events.push_back("end " + std::to_string(p.page)); };
    printer.OnEndDoc = [&](TYPrinter&) { events.push_back("end doc"); };
    show(QString());
    form->btnPrintClick();
    EXPECT_EQ(events,
              (std::vector<std::string>{"begin", "start 1", "start 2", "end 2", "end doc"}));
    EXPECT_TRUE(std::filesystem::exists(path("empty.txt")));
    EXPECT_EQ(readFile("empty.txt"), "");
}

TEST_F(Preview, PaperOutCancelledDuringTheInitCodeIsAnError) {
    writeIni("[PrintSet]\nPrintMethod=1\n");
    device.script->status = 0xB8;
    dialogs->answers = {MessageDialogs::Answer::Cancel};
    show(QStringLiteral("line"));
    form->ui().btnPrint->click();
    // The print failed: the operator reads it again, as an error, and the form stays.
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("打印机缺纸！（B8）\r\n继续重试？"));
    EXPECT_EQ(dialogs->shown[1].kind, MessageDialogs::Kind::Error);
    EXPECT_EQ(dialogs->shown[1].text, QStringLiteral("打印机缺纸！（B8）"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(device.script->written, "");
}

TEST_F(Preview, FileButtonWritesEveryLine) {
    dialogs->input = QString::fromStdString(path("saved"));
    show(QStringLiteral("第一行\n\n第三行  \n"));
    form->ui().btnPrintToFile->click();
#if defined(_WIN32)
    // A text file on Windows ends its lines as the platform's editors expect.
    EXPECT_EQ(readFile("saved.txt"), "第一行\r\n\r\n第三行  \r\n");
#else
    EXPECT_EQ(readFile("saved.txt"), "第一行\n\n第三行  \n");
#endif
    EXPECT_EQ(form->result(), QDialog::Accepted);
    // No file chosen: nothing is written.
    dialogs->input.clear();
    form->btnPrintToFileClick();
    EXPECT_FALSE(std::filesystem::exists(path(".txt")));
}

TEST_F(Preview, FileButtonReportsAnUnwritableFile) {
    dialogs->input = QString::fromStdString(path("missing/voucher.txt"));
    show(QStringLiteral("line"));
    form->ui().btnPrintToFile->click();
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Error);
    EXPECT_TRUE(dialogs->shown[0].text.contains(QStringLiteral("missing/voucher.txt")));
}

// The file button's save dialog as the toolkit draws it, with Qt's Chinese words loaded as
// the host loads them: its labels, its columns and the sizes, kinds and dates in them are
// Chinese whatever language the system runs in.
TEST_F(Preview, SaveDialogIsChineseThroughout) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows shows its own save dialog, in the system's language";
#endif
    QTranslator qtChinese;
    ASSERT_TRUE(qtChinese.load(QStringLiteral("qtbase_zh_CN"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    QCoreApplication::installTranslator(&qtChinese);
    MessageDialogs::install(nullptr);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("凭证")));
    writeFile("old.txt", std::string(110, 'x'));
    const QString before = QDir::currentPath();
    const QLocale locale;
    QDir::setCurrent(dir.path());
    QStringList labels;
    QStringList folder;
    QStringList file;
    QTimer::singleShot(0, [&] {
        QFileDialog* dialog = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            return dialog != nullptr;
        }));
        const auto close = qScopeGuard([dialog] { dialog->reject(); });
        auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
        ASSERT_NE(view, nullptr);
        const QAbstractItemModel* model = view->model();
        const auto row = [&](const QString& name) {
            QStringList texts;
            for (int r = 0; r < model->rowCount(view->rootIndex()); ++r) {
                if (model->index(r, 0, view->rootIndex()).data().toString() != name)
                    continue;
                for (int c = 0; c < 4; ++c)
                    texts << model->index(r, c, view->rootIndex()).data().toString();
            }
            return texts;
        };
        // The folder is read in the background; its rows come when they come.
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return row(QStringLiteral("old.txt")).value(3) != QString(); }));
        for (int c = 0; c < 4; ++c)
            labels << model->headerData(c, Qt::Horizontal).toString();
        for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
            labels << dialog->findChild<QLabel*>(QLatin1String(name))->text();
        folder = row(QStringLiteral("凭证"));
        file = row(QStringLiteral("old.txt"));
        dialog->setViewMode(QFileDialog::Detail);
        QDir().mkpath(QStringLiteral(SCREEN_DIR));
        EXPECT_TRUE(dialog->grab().save(QStringLiteral(SCREEN_DIR "/voucher-save-dialog.png")));
    });
    show(QStringLiteral("line"));
    form->btnPrintToFileClick();
    QDir::setCurrent(before);
    QCoreApplication::removeTranslator(&qtChinese);
    EXPECT_EQ(labels,
              QStringList({QStringLiteral("名称"), QStringLiteral("体积"), QStringLiteral("类型"),
                           QStringLiteral("修改日期"), QStringLiteral("查找范围："),
                           QStringLiteral("文件名称(&N)："), QStringLiteral("文件类型：")}));
    ASSERT_EQ(folder.size(), 4);
    EXPECT_EQ(folder[1], QString());
    EXPECT_EQ(folder[2], QStringLiteral("文件夹"));
    ASSERT_EQ(file.size(), 4);
    EXPECT_EQ(file[1], QStringLiteral("110 字节"));
    EXPECT_EQ(file[2], QStringLiteral("纯文本文档"));
    // A date as the Chinese write it, with no month's name: 2026/12/8 23:07.
    const QRegularExpression chineseDate(
        QStringLiteral("^\\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{2}$"));
    EXPECT_TRUE(chineseDate.match(folder[3]).hasMatch()) << folder[3].toStdString();
    EXPECT_TRUE(chineseDate.match(file[3]).hasMatch()) << file[3].toStdString();
    // Nothing chosen, nothing written; the locale is the process's own again.
    EXPECT_FALSE(std::filesystem::exists(path("temp.txt")));
    EXPECT_EQ(QLocale(), locale);
}

TEST(ProgressForm, CarriesItsLayout) {
    TfrmProcess form;
    Ui::TfrmProcess& ui = form.ui();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("打印交割"));
    EXPECT_EQ(ui.lbQzID->text(), QStringLiteral("当前进程"));
    EXPECT_EQ(ui.Label1->text(), QStringLiteral("总进程"));
    for (QProgressBar* bar : {ui.pbCurrent, ui.pbTot}) {
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
        EXPECT_FALSE(bar->isTextVisible());
    }
    EXPECT_EQ(ui.btnCancel->text(), QStringLiteral("取消"));
    form.show();
    QDir().mkpath(QStringLiteral(SCREEN_DIR));
    EXPECT_TRUE(form.grab().save(QStringLiteral(SCREEN_DIR "/voucher-progress.png")));
}

TEST(PreviewLife, LivesFromFirstInitToLastUninit) {
    BizInit(0, nullptr, nullptr, 0);
    BizInit(0, nullptr, nullptr, 0);
    QPointer<TfrmShow> form = frmShow();
    ASSERT_NE(form, nullptr);
    EXPECT_FALSE(form->isVisible());
    BizUninit();
    EXPECT_NE(form, nullptr);
    // An open document is ended when the driver goes with the module.
    int ended = 0;
    GetYPrinter().OnEndDoc = [&](TYPrinter&) { ++ended; };
    GetYPrinter().SetMode("3");
    GetYPrinter().BeginDoc();
    BizUninit();
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(ModuleLifecycle::instance().initCount(), 0);
}

} // namespace
