#pragma once
// The file-name prompt of a print into a file: a line for the name with room for a whole
// path, a button to browse for it, OK and Cancel.

#include <QDialog>
#include <QPointer>

#include <functional>
#include <memory>

namespace Ui {
class TfrmOutputFile;
}

class TfrmOutputFile : public QDialog {
    Q_OBJECT
public:
    TfrmOutputFile(const QString& caption, const QString& prompt, const QString& fileName,
                   QWidget* parent = nullptr);
    ~TfrmOutputFile() override;

    Ui::TfrmOutputFile& ui() { return *ui_; }
    QString FileName() const;

    // Picks the file with the save-file dialog and puts it in the line.
    void btnBrowseClick();

private:
    std::unique_ptr<Ui::TfrmOutputFile> ui_;
};

// The prompt while it is up, for whoever acts on it.
QPointer<TfrmOutputFile>& frmOutputFile();

// Asks for the name of the file a print goes into: true with `fileName` changed when
// confirmed. The prompt form unless another prompt was set.
bool AskOutputFile(const QString& caption, const QString& prompt, QString& fileName);
using TOutputFilePrompt =
    std::function<bool(const QString& caption, const QString& prompt, QString& fileName)>;
// Replaces the prompt (the command line, tests); null puts the form back.
void SetOutputFilePrompt(TOutputFilePrompt prompt);
