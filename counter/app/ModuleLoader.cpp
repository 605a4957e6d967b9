#include "ModuleLoader.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <stdexcept>

namespace counter {

ModuleLoader::ModuleLoader(const QString& path) : library_(path) {
    if (!library_.load())
        throw std::runtime_error("cannot load the module: " + library_.errorString().toStdString());
    getDevInfo_ = reinterpret_cast<BizGetDevInfoProc>(library_.resolve("BizGetDevInfo"));
    init_ = reinterpret_cast<BizInitProc>(library_.resolve("BizInit"));
    uninit_ = reinterpret_cast<BizUninitProc>(library_.resolve("BizUninit"));
    entry_ = reinterpret_cast<BizEntryProc>(library_.resolve("BizEntry"));
    if (!getDevInfo_ || !init_ || !uninit_ || !entry_)
        throw std::runtime_error("the module lacks one of its four exports");
    // The module's resource library sits beside it.
    const QFileInfo module(library_.fileName());
    const QByteArray resources =
        QFile::encodeName(module.absolutePath() + QStringLiteral("/C_Marlo.rcc"));
    init_(0, resources.constData(), nullptr, 0);
}

ModuleLoader::~ModuleLoader() {
    // The library stays mapped: forms it made may still be cleaning up.
    uninit_();
}

QString ModuleLoader::devInfo() const {
    char text[33] = {};
    std::int32_t v1 = 0;
    std::int32_t v2 = 0;
    getDevInfo_(text, &v1, &v2);
    return QString::fromUtf8(text) +
           QStringLiteral(" (%1.%2.%3)").arg(v1 >> 16).arg(v2 >> 16).arg(v2 & 0xFFFF);
}

WindowHandle ModuleLoader::entry(std::uint32_t menuCode, WindowHandle parent,
                                 WindowHandle closeNotify, IAppFrame* frame, bool showOnly) const {
    return entry_(menuCode, parent, closeNotify, frame, showOnly ? 1 : 0);
}

QString ModuleLoader::defaultPath() {
#if defined(_WIN32)
    return QCoreApplication::applicationDirPath() + QStringLiteral("/C_Marlo.dll");
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/libc_marlo.so");
#endif
}

} // namespace counter
