#pragma once
// TfrmClientSyncReq (menu 730101): asks the back office to synchronise one client's
// information for VIP fast trading (everything, the funds or the shares), request 730000.

#include "AccountForm.h"

#include <memory>

namespace Ui {
class TfrmClientSyncReq;
}

class TfrmClientSyncReq : public TAccountFormBase {
    Q_OBJECT
public:
    TfrmClientSyncReq();
    ~TfrmClientSyncReq() override;

    Ui::TfrmClientSyncReq& ui() { return *ui_; }

protected:
    void HostAttached() override;
    void btnOkClick() override;

private:
    std::unique_ptr<Ui::TfrmClientSyncReq> ui_;
};
