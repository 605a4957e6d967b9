#pragma once
// The offscreen tour: logs in, opens every menu function the module serves, saves a PNG
// of each screen into a folder and prints a short summary. The transcript of the run is
// written beside the pictures by the caller's transport.

#include "CounterHost.h"
#include "ModuleLoader.h"

#include <QDir>
#include <QString>
#include <QStringList>

namespace counter {

class Tour {
public:
    Tour(CounterHost& host, ModuleLoader& module, const QDir& dir);

    // Runs the whole tour; the exit code of the counter.
    int run(const QString& operatorNo, const QString& password, const QString& clientInput);

private:
    void save(QWidget& widget, const QString& name);
    // 730105: turns two pages, then filters by one branch in the condition dialog.
    void vipListSteps(QWidget& window, QWidget& form);
    void note(const QString& line);

    CounterHost& host_;
    ModuleLoader& module_;
    QDir dir_;
    QStringList summary_;
    int pictures_ = 0;
};

} // namespace counter
