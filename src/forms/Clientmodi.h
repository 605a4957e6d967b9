#pragma once
// TfrmClientmodi (menus 730102, 730103, 730104): opens, closes or modifies a client's VIP
// fast-trading status and its commission discount rate. The menu code fixes the mode for
// the form's life.

#include "AccountForm.h"

#include <memory>

namespace Ui {
class TfrmClientmodi;
}

class TfrmClientmodi : public TAccountFormBase {
    Q_OBJECT
public:
    TfrmClientmodi();
    ~TfrmClientmodi() override;

    // Sends one request of the type: 1 open (730001), 2 close (730002), 3 modify (730003),
    // 4 the client must not be VIP yet, 5 the client must be VIP and its rate is loaded
    // (both 730004). 0 on success, -1 otherwise (the reason has been shown).
    int VipClientSet(int type);

    Ui::TfrmClientmodi& ui() { return *ui_; }
    // A modify changes the rate the client holds: the one loaded with the client.
    QString ReviewRateBefore() const override;

protected:
    void HostAttached() override;
    void hedQzIDSubAccountValidate(QObject* sender, bool& valid) override;
    void btnOkClick() override;
    // The rate goes back to the form's first value: the next client starts from it.
    void ClearClientEntries() override;

private:
    // The close form shows no rate: the rows below take its place.
    void CloseRateRow();
    // A rate above 1 is refused with a warning; the operator's text stays for correction.
    bool RateWithinBound();

    std::unique_ptr<Ui::TfrmClientmodi> ui_;
    QString loadedRate_; // the rate of the client shown, as the back office holds it
    QString firstRate_;  // the rate the form's layout starts with
};
