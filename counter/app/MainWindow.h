#pragma once
// The counter's main window: a menu of the module's functions, and one tab per opened
// function holding the form the module returned.

#include "CounterHost.h"
#include "ModuleLoader.h"

#include <QMainWindow>

#include <map>

class QMenu;
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct OpenForm {
        QWidget* page;
        QWidget* closeNotify;
    };
    void closeTab(std::int32_t menuCode);
    QString captionOf(std::int32_t menuCode) const;

    CounterHost& host_;
    ModuleLoader& module_;
    QTabWidget* tabs_;
    QMenu* business_ = nullptr;
    std::map<std::int32_t, OpenForm> open_;
};

} // namespace counter
