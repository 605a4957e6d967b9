// The counter at the scale and on the screen its environment gives (QT_SCALE_FACTOR and
// MARLO_X_SCREEN; ctest runs these tests at 1, 1.5 and 2): the main window opens within the
// screen's available area with its status bar on the screen, a form that does not fit
// scrolls to its last control, and the VIP list's row numbers stay level with their rows.
#include "XSession.h"

#include "CounterHost.h"
#include "EmbeddedTransport.h"
#include "HostClasses.h"
#include "MainWindow.h"
#include "ModuleLoader.h"
#include "protocol/Service.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

class XScaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        ASSERT_TRUE(dir.isValid());
        auto service = std::shared_ptr<protocol::PacketService>(
            protocol::openBackOfficeService(dir.filePath("office.db").toStdString()));
        host = std::make_unique<counter::CounterHost>(
            std::make_unique<counter::EmbeddedTransport>(service));
        ASSERT_EQ(host->login("1001", "pass1001", "1"), "");
        module = std::make_unique<counter::ModuleLoader>(counter::ModuleLoader::defaultPath());
        window = std::make_unique<counter::MainWindow>(*host, *module);
        window->show();
        ASSERT_TRUE(xwindow::activate(window.get()));
    }
    void TearDown() override {
        window.reset();
        module.reset();
        host.reset();
        counter::unregisterHostClasses();
    }

    // The screen's available area. At a fractional logical size (a frame of odd device
    // pixels at scale 2) the toolkit rounds by up to one logical pixel: that much is kept
    // as slack.
    QRect available() const { return window->screen()->availableGeometry().adjusted(-1, -1, 1, 1); }

    QScrollArea* page() const {
        return qobject_cast<QScrollArea*>(window->tabs()->currentWidget());
    }

    QTemporaryDir dir;
    std::unique_ptr<counter::CounterHost> host;
    std::unique_ptr<counter::ModuleLoader> module;
    std::unique_ptr<counter::MainWindow> window;
};

// The row numbers from `first` on stand level with their rows, and their column ends where
// the rows do.
void expectLevel(QTableView* list, int first, const QString& scale) {
    QHeaderView* numbers = list->verticalHeader();
    for (int row = first; row < first + 3; ++row) {
        const int rowTop =
            list->viewport()
                ->mapToGlobal(list->visualRect(list->model()->index(row, 0)).topLeft())
                .y();
        const int numberTop =
            numbers->viewport()->mapToGlobal(QPoint(0, numbers->sectionViewportPosition(row))).y();
        EXPECT_EQ(numberTop, rowTop) << "scale " << scale.toStdString() << ", row " << row;
    }
    EXPECT_EQ(numbers->mapToGlobal(QPoint(0, numbers->height())).y(),
              list->viewport()->mapToGlobal(QPoint(0, list->viewport()->height())).y());
    // The total line is below the table: the rows, their numbers and the scroll bar all end
    // above it.
    const QLabel* total = nullptr;
    for (const QLabel* label : list->window()->findChildren<QLabel*>()) {
        if (label->isVisible() && label->text().startsWith(QStringLiteral("汇总")))
            total = label;
    }
    ASSERT_NE(total, nullptr) << "no 汇总 line";
    const int totalTop = total->mapToGlobal(QPoint(0, 0)).y();
    EXPECT_LE(list->mapToGlobal(QPoint(0, list->height())).y(), totalTop)
        << "scale " << scale.toStdString();
    const QScrollBar* bar = list->verticalScrollBar();
    if (bar->isVisible()) {
        EXPECT_LE(bar->mapToGlobal(QPoint(0, bar->height())).y(), totalTop)
            << "scale " << scale.toStdString();
    }
}

} // namespace

TEST_F(XScaleTest, TheWindowOpensWithinTheScreenAndAFormThatDoesNotFitScrolls) {
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    // The window manager has placed the window, frame and all.
    EXPECT_TRUE(
        xwindow::waitFor([&] { return available().contains(window->frameGeometry()); }, 5000))
        << "scale " << scale.toStdString() << ": window " << window->frameGeometry().width() << "x"
        << window->frameGeometry().height() << " on " << available().width() << "x"
        << available().height();
    QStatusBar* status = window->statusBar();
    EXPECT_TRUE(available().contains(QRect(status->mapToGlobal(QPoint(0, 0)), status->size())));
    xwindow::grabScreen(QStringLiteral("x-scale-%1-window").arg(scale));

    ASSERT_TRUE(window->openFunction(730102));
    QScrollArea* shown = page();
    ASSERT_NE(shown, nullptr);
    QWidget* form = shown->widget();
    ASSERT_NE(form, nullptr);
    xwindow::spin(300);
    // Every part of the form can be scrolled to: 确定 and 取消 included.
    const QSize room = shown->viewport()->size();
    EXPECT_GE(shown->verticalScrollBar()->maximum(), form->height() - room.height());
    EXPECT_GE(shown->horizontalScrollBar()->maximum(), form->width() - room.width());
    auto* ok = form->findChild<QAbstractButton*>("btnOk");
    ASSERT_NE(ok, nullptr);
    shown->ensureWidgetVisible(ok);
    xwindow::spin(100);
    const QRect okOnScreen(ok->mapToGlobal(QPoint(0, 0)), ok->size());
    EXPECT_TRUE(available().contains(okOnScreen));
    EXPECT_TRUE(QRect(shown->viewport()->mapToGlobal(QPoint(0, 0)), room).contains(okOnScreen));
    xwindow::grabScreen(QStringLiteral("x-scale-%1-730102").arg(scale));
}

TEST_F(XScaleTest, TheVipListsRowNumbersStayLevelWithTheirRows) {
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    ASSERT_TRUE(window->openFunction(730105));
    QTableView* list = nullptr;
    ASSERT_TRUE(xwindow::waitFor([&] {
        list = page() && page()->widget() ? page()->widget()->findChild<QTableView*>() : nullptr;
        return list && list->model()->rowCount() > 3;
    }));
    xwindow::spin(300);
    QHeaderView* numbers = list->verticalHeader();
    ASSERT_TRUE(numbers->isVisible());
    expectLevel(list, 0, scale);
    // The list takes the room the window gives: the form fills its page where the page is
    // larger than the form's design, and never falls below the design.
    const QSize room = page()->viewport()->size();
    QWidget* form = page()->widget();
    EXPECT_EQ(form->height(), std::max(room.height(), 310)) << "scale " << scale.toStdString();
    EXPECT_EQ(form->width(), std::max(room.width(), 459)) << "scale " << scale.toStdString();
    // Scrolled down a page by the operator's keys, they still are.
    ASSERT_TRUE(xwindow::click(list->viewport()));
    ASSERT_TRUE(xwindow::keys({"Next", "Next"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return list->verticalScrollBar()->value() > 0; }));
    xwindow::spin(300);
    expectLevel(list, list->rowAt(0), scale);
    xwindow::grabScreen(QStringLiteral("x-scale-%1-730105").arg(scale));
}
