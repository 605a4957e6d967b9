#include "OutputFile.h"

#include "ui_OutputFile.h"

#include "ApplicationWindow.h"
#include "MessageDialogs.h"

#include <QPushButton>

#include <algorithm>

namespace {

TOutputFilePrompt& replacedPrompt() {
    static TOutputFilePrompt prompt;
    return prompt;
}

} // namespace

TfrmOutputFile::TfrmOutputFile(const QString& caption, const QString& prompt,
                               const QString& fileName, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfrmOutputFile>()) {
    ui_->setupUi(this);
    setWindowTitle(caption);
    ui_->lbPrompt->setText(prompt);
    ui_->edtFileName->setText(fileName);
    // Wide enough for the caption in the title and a path of some depth in the line.
    setMinimumWidth(std::max(minimumWidth(), fontMetrics().horizontalAdvance(caption) * 2));
    connect(ui_->btnBrowse, &QPushButton::clicked, this, [this] { btnBrowseClick(); });
    connect(ui_->btnsOkCancel, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->btnsOkCancel, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ui_->edtFileName->setFocus();
}

TfrmOutputFile::~TfrmOutputFile() = default;

QString TfrmOutputFile::FileName() const {
    return ui_->edtFileName->text();
}

void TfrmOutputFile::btnBrowseClick() {
    QString name = FileName();
    if (MessageDialogs::current().saveFile(windowTitle(), QStringLiteral("所有文件 (*)"), name))
        ui_->edtFileName->setText(name);
}

QPointer<TfrmOutputFile>& frmOutputFile() {
    static QPointer<TfrmOutputFile> form;
    return form;
}

bool AskOutputFile(const QString& caption, const QString& prompt, QString& fileName) {
    if (replacedPrompt())
        return replacedPrompt()(caption, prompt, fileName);
    TfrmOutputFile form(caption, prompt, fileName, ApplicationWindow());
    frmOutputFile() = &form;
    const bool confirmed = form.exec() == QDialog::Accepted;
    frmOutputFile() = nullptr;
    if (confirmed)
        fileName = form.FileName();
    return confirmed;
}

void SetOutputFilePrompt(TOutputFilePrompt prompt) {
    replacedPrompt() = std::move(prompt);
}
