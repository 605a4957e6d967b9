#include "MainWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

namespace counter {

MainWindow::MainWindow(CounterHost& host, ModuleLoader& module)
    : host_(host), module_(module), tabs_(new QTabWidget), operatorLine_(new QLabel) {
    setWindowTitle(QStringLiteral("证券柜台 - 柜员 %1 - %2")
                       .arg(QString::fromStdString(host.operatorName()), module.devInfo()));
    tabs_->setTabsClosable(true);
    tabs_->setDocumentMode(true);
    auto* welcome = new QLabel(QStringLiteral("请从“业务”菜单选择功能。"));
    welcome->setAlignment(Qt::AlignCenter);
    tabs_->addTab(welcome, QStringLiteral("首页"));
    tabs_->tabBar()->setTabButton(0, QTabBar::RightSide, nullptr); // the home page stays
    setCentralWidget(tabs_);

    business_ = menuBar()->addMenu(QStringLiteral("业务(&B)"));
    for (const MenuFunction& f : host.functions()) {
        const std::int32_t code = f.menuCode;
        business_->addAction(
            QStringLiteral("%1 %2").arg(code).arg(QString::fromStdString(f.caption)), this,
            [this, code] { openFunction(code); });
    }
    menuBar()
        ->addMenu(QStringLiteral("系统(&S)"))
        ->addAction(QStringLiteral("退出(&X)"), this, &QWidget::close);

    connect(tabs_, &QTabWidget::tabCloseRequested, this, [this](int index) {
        for (const auto& [code, form] : open_) {
            if (tabs_->widget(index) == form.page) {
                // The form closes itself and tells the host through its close-notify window.
                if (QWidget* shown = form.page->widget())
                    shown->close();
                return;
            }
        }
    });
    // A permanent part of the bar: passing messages do not cover it.
    operatorLine_->setText(QStringLiteral("柜员 %1，营业部 %2 %3")
                               .arg(QString::fromStdString(host.operatorName()))
                               .arg(host.branchNo())
                               .arg(QString::fromStdString(host.branchName())));
    statusBar()->addPermanentWidget(operatorLine_);
    openWithinTheScreen();
}

void MainWindow::openWithinTheScreen() {
    // The size the counter is laid out for, where the screen has room for it with a
    // window frame. On a smaller screen (or a large scale) the window opens maximized: the
    // window manager fits it, frame included, to the screen's available area, and a form
    // that does not fit scrolls.
    const QSize designed(760, 520);
    const QSize frame(16, 64); // room left for a window manager's frame and title
    resize(designed);
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown)
        return;
    const QSize room = shown->availableGeometry().size();
    if (designed.width() + frame.width() > room.width() ||
        designed.height() + frame.height() > room.height()) {
        resize(designed.boundedTo(room - frame));
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

QString MainWindow::captionOf(std::int32_t menuCode) const {
    for (const MenuFunction& f : host_.functions()) {
        if (f.menuCode == menuCode)
            return QString::fromStdString(f.caption);
    }
    return QString::number(menuCode);
}

bool MainWindow::openFunction(std::int32_t menuCode) {
    if (const auto it = open_.find(menuCode); it != open_.end()) {
        // The page shows first: the module then starts the form afresh, focus and all, in a
        // page the operator sees.
        tabs_->setCurrentWidget(it->second.page);
        module_.entry(static_cast<std::uint32_t>(menuCode), it->second.page->winId(),
                      it->second.closeNotify->winId(), host_.appFrame(), true);
        return true;
    }
    auto* page = new QScrollArea;
    page->setAttribute(Qt::WA_NativeWindow);
    // The form is a native window: a native viewport clips it, so that it never paints
    // over the scroll bars.
    page->viewport()->setAttribute(Qt::WA_NativeWindow);
    page->setFrameShape(QFrame::NoFrame);
    page->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A form that can grow (the VIP list) takes the room the window gives; the others keep
    // their size, and any form larger than the page scrolls.
    page->setWidgetResizable(true);
    auto* closeNotify = new QWidget(this);
    closeNotify->setAttribute(Qt::WA_NativeWindow);
    closeNotify->hide();
    closeNotify->installEventFilter(this);
    const std::uint64_t failuresBefore = host_.communication().failures();
    const WindowHandle handle = module_.entry(static_cast<std::uint32_t>(menuCode), page->winId(),
                                              closeNotify->winId(), host_.appFrame(), false);
    QWidget* form = handle ? QWidget::find(static_cast<WId>(handle)) : nullptr;
    if (!form) {
        delete page;
        delete closeNotify;
        // The module gives no reason; the host knows whether its own request failed.
        const QString why = host_.communication().failures() != failuresBefore
                                ? QString::fromStdString(host_.communication().lastFailure())
                                : QStringLiteral("模块没有提供此功能的窗体。");
        statusBar()->showMessage(QStringLiteral("功能 %1 未能打开：%2").arg(menuCode).arg(why),
                                 8000);
        return false;
    }
    page->setWidget(form);
    open_[menuCode] = {page, closeNotify};
    tabs_->setCurrentIndex(tabs_->addTab(page, captionOf(menuCode)));
    form->show();
    return true;
}

QStringList MainWindow::functionsHoldingInput() const {
    QStringList named;
    for (const auto& [code, form] : open_) {
        const QWidget* shown = form.page->widget();
        if (shown && shown->property("holdsUnsentInput").toBool())
            named << QStringLiteral("%1 %2").arg(code).arg(captionOf(code));
    }
    return named;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    const QStringList holding = functionsHoldingInput();
    if (!holding.isEmpty()) {
        QMessageBox ask(QMessageBox::Question, QStringLiteral("退出"),
                        QStringLiteral("以下功能有输入尚未提交：\n%1\n\n退出将丢弃这些输入。"
                                       "确定要退出吗？")
                            .arg(holding.join(QLatin1Char('\n'))),
                        QMessageBox::NoButton, this);
        ask.setObjectName(QStringLiteral("quitQuestion"));
        ask.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        QPushButton* no = ask.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        ask.setDefaultButton(no);
        ask.setEscapeButton(no);
        ask.exec();
        if (ask.clickedButton() == no) {
            event->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close) {
        for (const auto& [code, form] : open_) {
            if (form.closeNotify == watched) {
                event->ignore();
                closeTab(code);
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeTab(std::int32_t menuCode) {
    const auto it = open_.find(menuCode);
    if (it == open_.end())
        return;
    tabs_->removeTab(tabs_->indexOf(it->second.page));
    it->second.page->deleteLater();
    it->second.closeNotify->deleteLater();
    open_.erase(it);
}

} // namespace counter
