#pragma once
// TfrmShow: the print preview. It shows a voucher as plain text and prints it with the
// page arguments of uservouc.ini, or saves it to a text file.

#include <QDialog>
#include <QPointer>
#include <QStringList>

#include <memory>

namespace Ui {
class TfrmShow;
}

class TfrmShow : public QDialog {
    Q_OBJECT
public:
    explicit TfrmShow(QWidget* parent = nullptr);
    ~TfrmShow() override;

    Ui::TfrmShow& ui() { return *ui_; }
    // The voucher text, one entry per line of the text box.
    QStringList Lines() const;

    // Prints every line through the module's printer driver.
    void btnPrintClick();
    // Saves every line to a text file the operator chooses.
    void btnPrintToFileClick();
    void btnCancelClick();
    void ExitBtnClick();

    // Where the paper's edge is marked, in pixels of the text's viewport.
    int PaperEdgeX() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // A button's handler and then the form's result; an error is shown and keeps the form.
    void Run(void (TfrmShow::*handler)(), int result);

    std::unique_ptr<Ui::TfrmShow> ui_;
    // The paper's edge over the text, owned by the text box.
    QWidget* paperEdge_ = nullptr;
};

// The module's preview form: made when the module starts, freed when it stops.
QPointer<TfrmShow>& frmShow();
void CreatePreviewForm();
void FreePreviewForm();
