#include "ModuleLifecycle.h"

#include "QZForm.h"

#include <QFileInfo>
#include <QResource>
#include <QString>

namespace {
// The resource library's entries are mapped under their own root so that they can take
// precedence over the module's compiled-in ones, whatever the registration order.
const QString libraryRoot = QStringLiteral("/c_marlo_library");
} // namespace

ModuleLifecycle& ModuleLifecycle::instance() {
    static ModuleLifecycle lifecycle;
    return lifecycle;
}

void ModuleLifecycle::init(const char* resourcePath) {
    if (initCount_ == 0) {
        if (resourceLibrary_.empty() && resourcePath != nullptr && *resourcePath != '\0') {
            const QString file = QString::fromUtf8(resourcePath);
            // A missing or unreadable library is ignored: the module's own resources serve.
            if (QResource::registerResource(file, libraryRoot))
                resourceLibrary_ = resourcePath;
        }
        TRCommonInfo& info = CommonInfo();
        info.dictionary = std::make_unique<TDictionary>();
        info.businessList = std::make_unique<TBusinessList>();
        info.branchList = std::make_unique<TBranchList>();
        info.functions = std::make_unique<TFunctions>();
    }
    ++initCount_;
}

void ModuleLifecycle::uninit() {
    --initCount_;
    if (initCount_ < 0) {
        initCount_ = 0;
        return;
    }
    if (initCount_ != 0)
        return;
    if (!resourceLibrary_.empty()) {
        QResource::unregisterResource(QString::fromStdString(resourceLibrary_), libraryRoot);
        resourceLibrary_.clear();
    }
    TRCommonInfo& info = CommonInfo();
    info.dictionary.reset();
    info.businessList.reset();
    info.branchList.reset();
    info.functions.reset();
}

std::string ModuleResourcePath(const std::string& name) {
    const QString fromLibrary =
        QStringLiteral(":") + libraryRoot + QStringLiteral("/") + QString::fromStdString(name);
    if (ModuleLifecycle::instance().resourceLibraryLoaded() && QFileInfo::exists(fromLibrary))
        return fromLibrary.toStdString();
    return ":/c_marlo/" + name;
}
