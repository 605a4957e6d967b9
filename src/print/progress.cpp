#include "progress.h"

#include "ui_progress.h"

TfrmProcess::TfrmProcess(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfrmProcess>()) {
    ui_->setupUi(this);
}

TfrmProcess::~TfrmProcess() = default;
