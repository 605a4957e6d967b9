#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace counter {

QtTranslations::QtTranslations(const QString& folder) {
    const QString where =
        folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_zh_CN"), where) &&
        QCoreApplication::installTranslator(translator.get()))
        translator_ = std::move(translator);
}

QtTranslations::~QtTranslations() {
    if (translator_)
        QCoreApplication::removeTranslator(translator_.get());
}

} // namespace counter
