#include "ModuleResources.h"

#include <QFileInfo>
#include <QResource>
#include <QString>

namespace {
// The resource library's entries are mapped under their own root so that they can take
// precedence over the module's compiled-in ones, whatever the registration order.
const QString libraryRoot = QStringLiteral("/c_marlo_library");

std::string& registered() {
    static std::string path;
    return path;
}
} // namespace

bool RegisterResourceLibrary(const std::string& path) {
    if (!registered().empty())
        return true;
    if (path.empty() || !QResource::registerResource(QString::fromStdString(path), libraryRoot))
        return false;
    registered() = path;
    return true;
}

void UnregisterResourceLibrary() {
    if (registered().empty())
        return;
    QResource::unregisterResource(QString::fromStdString(registered()), libraryRoot);
    registered().clear();
}

bool ResourceLibraryLoaded() {
    return !registered().empty();
}

std::string ModuleResourcePath(const std::string& name) {
    const QString fromLibrary =
        QStringLiteral(":") + libraryRoot + QStringLiteral("/") + QString::fromStdString(name);
    if (ResourceLibraryLoaded() && QFileInfo::exists(fromLibrary))
        return fromLibrary.toStdString();
    return ":/c_marlo/" + name;
}
