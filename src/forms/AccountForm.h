#pragma once
// TAccountFormBase: what the two account forms share. The operator identifies a client in
// the identification panel (the identifier edit with its switch label, the client
// information group and its seven value labels); the form resolves the entry to one fund
// account with its three account services, shows the client and checks the client's and
// the fund account's status. "确定" acts only on a client the panel shows: it is enabled
// once hedQzIDSubAccountValidate has accepted a client and disabled whenever the panel is
// cleared or an identification fails.

#include "ClsClientInfo.h"
#include "ClsFund.h"
#include "QZForm.h"
#include "SysConfig.h"

#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class TQZIDEdit;
class TQZSwitchLabel;
class TQzBitBtn;

// The controls of the identification panel, as each form's layout names them.
struct TClientPanel {
    TQZIDEdit* hedQzID = nullptr;
    TQZSwitchLabel* lbQzID = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* lbFundAcco = nullptr;
    QLabel* lbCustName = nullptr;
    QLabel* lbIDKind = nullptr;
    QLabel* lbID = nullptr;
    QLabel* lbCustGroup = nullptr;
    QLabel* lbRoomCode = nullptr;
    QLabel* lbStatus = nullptr;
    TQzBitBtn* btnOk = nullptr;
    TQzBitBtn* btnCancel = nullptr;

    template <class Ui> static TClientPanel of(Ui& ui) {
        return {ui.hedQzID,    ui.lbQzID,   ui.GroupBox2, ui.lbFundAcco,
                ui.lbCustName, ui.lbIDKind, ui.lbID,      ui.lbCustGroup,
                ui.lbRoomCode, ui.lbStatus, ui.btnOk,     ui.btnCancel};
    }
};

class TAccountFormBase : public TQZFormBase {
    Q_OBJECT
public:
    ~TAccountFormBase() override;

    // Empties every label with tag 1 among the container's children, and inside every
    // child control, recursively.
    static void ClearInfoLabels(QWidget* container);

    QString ReviewClientName() const override;
    // An entry typed or a client looked up, and not yet sent.
    bool HoldsUnsentInput() const override;

    // The account services; none before HostAttached and after FormDestroy.
    TFund* Fund() const { return fund_.get(); }
    TSysConfigList* SysConfigList() const { return sysConfig_.get(); }
    TClientInfo* ClientInfo() const { return clientInfo_.get(); }

protected:
    TAccountFormBase();

    // Binds the panel's events; each form calls it once its layout is set up.
    void bindPanel(const TClientPanel& panel);
    const TClientPanel& panel() const { return panel_; }

    // The common part of each form's setup: the session, the host's preferred input kind in
    // the identifier edit, the three account services.
    void AttachAccountServices();

    // The identifier edit's OnValidate: resolves the entry; for a client number, offers
    // its fund accounts.
    void hedQzIDValidate(QObject* sender, bool& valid);
    // The identifier edit's OnSubAccountValidate: shows the client and checks its status.
    // A form that checks more overrides it and calls this first.
    virtual void hedQzIDSubAccountValidate(QObject* sender, bool& valid);
    virtual void btnOkClick() = 0;
    void btnCancelClick();
    // Closes the form without validating what its edits hold.
    void CloseUnvalidated();
    void FormKeyDown(QKeyEvent* key) override;
    QWidget* StartingControl() const override;
    // Frees the fund service, the configuration list and the client information.
    void FormDestroy();

    // The font colour of a label: 255 (red) marks what is not normal, 0 (black) the rest.
    static void SetFontColour(QWidget* control, const QColor& colour);

    // After a request: the identifier edit empty and focused, the panel empty, "确定" off,
    // and the form's own entries for the client cleared.
    void ClearIdentification();
    // The entries a form keeps for the client shown (a rate): none of them may pass to the
    // next client.
    virtual void ClearClientEntries() {}
    // Runs a step of the identification or of 确定; when it raises an error, the
    // identification is cleared before the error travels on.
    void ClearedOnFailure(const std::function<void()>& step);

private:
    TClientPanel panel_;
    std::unique_ptr<TFund> fund_;
    std::unique_ptr<TSysConfigList> sysConfig_;
    std::unique_ptr<TClientInfo> clientInfo_;
};
