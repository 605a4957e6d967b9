#include "PlatformNotices.h"

#include <QtGlobal>

namespace counter {

namespace {

QtMessageHandler passOn = nullptr;

void quiet(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!isPlatformNotice(type, text) && passOn)
        passOn(type, context, text);
}

} // namespace

bool isPlatformNotice(QtMsgType type, const QString& text) {
    return type == QtWarningMsg &&
           (text.startsWith(QLatin1String("This plugin does not support")) ||
            text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")));
}

QuietPlatformNotices::QuietPlatformNotices() {
    passOn = qInstallMessageHandler(quiet);
}

QuietPlatformNotices::~QuietPlatformNotices() {
    qInstallMessageHandler(passOn);
}

} // namespace counter
