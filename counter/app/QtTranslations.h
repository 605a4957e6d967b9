#pragma once
// Qt's own Chinese translations for the counter's process: the buttons of the standard
// dialogs ("确定", "取消", "显示详情..."), the file dialog, the input dialog. The module's
// dialogs run in this process and speak Chinese with them.

#include <QString>

#include <memory>

class QTranslator;

namespace counter {

class QtTranslations {
public:
    // Installs the Chinese catalogue of Qt's base found in `folder` (default: Qt's
    // translations folder); it carries the standard buttons and dialogs.
    explicit QtTranslations(const QString& folder = {});
    // Removes them again.
    ~QtTranslations();
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // False when Qt's translations are not on this machine.
    bool installed() const { return translator_ != nullptr; }

private:
    std::unique_ptr<QTranslator> translator_;
};

} // namespace counter
