#pragma once
// TfrmProcess: the two-bar progress window of a voucher run. The module has its layout
// only; nothing drives it.

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmProcess;
}

class TfrmProcess : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProcess(QWidget* parent = nullptr);
    ~TfrmProcess() override;

    Ui::TfrmProcess& ui() { return *ui_; }

private:
    std::unique_ptr<Ui::TfrmProcess> ui_;
};
