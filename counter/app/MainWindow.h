#pragma once
// The counter's main window: a menu of the module's functions, and one tab per opened
// function holding the form the module returned in a scroll area, so that a form larger
// than the window scrolls; the operator and the branch stay in the status bar.

#include "CounterHost.h"
#include "ModuleLoader.h"

#include <QMainWindow>
#include <QStringList>

#include <map>

class QLabel;
class QMenu;
class QScrollArea;
class QTabWidget;

namespace counter {

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(CounterHost& host, ModuleLoader& module);

    // Opens the function, or brings its open form forward. False when the module served
    // no form for it.
    bool openFunction(std::int32_t menuCode);
    QTabWidget* tabs() const { return tabs_; }
    QMenu* businessMenu() const { return business_; }
    QLabel* operatorLine() const { return operatorLine_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // 退出, or the window's close button: where a form holds input not yet sent, the
    // operator is asked first, 否 the default.
    void closeEvent(QCloseEvent* event) override;

private:
    struct OpenForm {
        QScrollArea* page;
        QWidget* closeNotify;
    };
    // Opens no larger than the screen's available area.
    void openWithinTheScreen();
    void closeTab(std::int32_t menuCode);
    QString captionOf(std::int32_t menuCode) const;
    // The open functions whose form holds input not yet sent, as "730102 VIP客户开户".
    QStringList functionsHoldingInput() const;

    CounterHost& host_;
    ModuleLoader& module_;
    QTabWidget* tabs_;
    QMenu* business_ = nullptr;
    QLabel* operatorLine_;
    std::map<std::int32_t, OpenForm> open_;
};

} // namespace counter
