#include "SaveFileDialog.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>

namespace {

const QLocale& chinese() {
    static const QLocale locale(QLocale::Chinese, QLocale::China);
    return locale;
}

// The columns of the dialog's file list, as the file system model numbers them.
enum Column { NameColumn, SizeColumn, TypeColumn, DateColumn };

// The file list as the dialog shows it, with its sizes, kinds and dates in Chinese.
class TChineseFileColumns final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || files == nullptr || !index.isValid())
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        switch (index.column()) {
        case SizeColumn:
            return files->isDir(source) ? QString()
                                        : chinese().formattedDataSize(files->size(source));
        case TypeColumn:
            // A file's kind comes from the MIME database, in the default locale's language.
            if (files->isDir(source))
                return files->fileInfo(source).isRoot() ? QStringLiteral("驱动器")
                                                        : QStringLiteral("文件夹");
            return QIdentityProxyModel::data(index, role);
        case DateColumn:
            return chinese().toString(files->lastModified(source), QLocale::ShortFormat);
        default:
            return QIdentityProxyModel::data(index, role);
        }
    }
};

// The default locale is Chinese while the dialog runs, for the kinds of files it names.
class TScopedLocale {
public:
    explicit TScopedLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~TScopedLocale() { QLocale::setDefault(before_); }
    TScopedLocale(const TScopedLocale&) = delete;
    TScopedLocale& operator=(const TScopedLocale&) = delete;

private:
    QLocale before_;
};

} // namespace

bool AskSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                     QString& fileName) {
    const TScopedLocale locale(chinese());
    QFileDialog dialog(parent, caption, fileName, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setProxyModel(new TChineseFileColumns(&dialog));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName = dialog.selectedFiles().constFirst();
    return true;
}
