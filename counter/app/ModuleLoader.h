#pragma once
// The module as the counter loads it at run time: its four exports, BizInit with its
// resource file on load and BizUninit when the loader goes.

#include "ModuleExports.h"

#include <QLibrary>
#include <QString>

namespace counter {

class ModuleLoader {
public:
    // Loads the library and calls BizInit; throws std::runtime_error when the library or
    // one of its exports is missing.
    explicit ModuleLoader(const QString& path);
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    QString devInfo() const;
    WindowHandle entry(std::uint32_t menuCode, WindowHandle parent, WindowHandle closeNotify,
                       IAppFrame* frame, bool showOnly) const;

    // The module beside the executable.
    static QString defaultPath();

private:
    QLibrary library_;
    BizGetDevInfoProc getDevInfo_ = nullptr;
    BizInitProc init_ = nullptr;
    BizUninitProc uninit_ = nullptr;
    BizEntryProc entry_ = nullptr;
};

} // namespace counter
