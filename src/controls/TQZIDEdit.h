#pragma once
// The identifier edit: the operator types an asset account, a shareholder account, a fund
// card, a bank card or a client number. For a shareholder account the exchange is picked
// in the box at the edit's left (PageUp and PageDown step through it, in the edit and in
// the box; Shift+Tab from the edit reaches the box). Another exchange makes the entry
// pending again, as typed. For a client
// number the client's fund accounts are offered in a list below the edit to pick from
// with the arrow keys and Enter. F2 switches to the next kind that has a caption, as a
// click on the lead label does.

#include "TCustomQzEdit.h"

#include <QStringList>

class QComboBox;
class QListWidget;

class TQZIDEdit : public TCustomQzEdit {
    Q_OBJECT
public:
    // InputWay indexes into Captions.
    enum TInputWay {
        iwFundAccount = 0,
        iwStockAccount = 1,
        iwFundCard = 2,
        iwBankCard = 3,
        iwNoCaption = 4,
        iwCustomerNo = 5
    };

    explicit TQZIDEdit(QWidget* parent = nullptr);

    // (Sender, var valid): after OnValidate accepted; for a client number only after the
    // operator picked one of the offered fund accounts.
    std::function<void(QObject* sender, bool& valid)> OnSubAccountValidate;

    void setCaptions(const QStringList& captions);
    QStringList Captions() const { return captions_; }
    int InputWay() const { return inputWay_; }
    void setInputWay(int way);
    // The next kind that has a caption (F2).
    void nextInputWay();
    // The one-character code of the current kind.
    char GetWay() const;
    void SetWay(char way);
    // The exchange code of a shareholder account entry; empty otherwise.
    QString GetExchange() const;
    void setExchange(const QString& code);

    // Copies the fund accounts and offers them for picking.
    void SetSubAccounts(const QStringList& accounts);
    QString PickedSubAccount() const { return picked_; }
    QListWidget* subAccountList() const { return list_; }
    // The exchange box at the edit's left: in the tab order right before the edit.
    QComboBox* exchangeBox() const { return exchange_; }
    // The operator's pick of the offered entry at that row.
    void pickSubAccount(int row);
    void Clear();

signals:
    void inputWayChanged(int way);
    // The operator chose another exchange: the entry is pending again, as typed.
    void exchangeChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool entryAccepted() override;

private:
    void placeExchangeBox();
    bool subAccountValidate();
    void exchangeChosen();

    QStringList captions_;
    int inputWay_ = iwCustomerNo;
    QComboBox* exchange_;
    QListWidget* list_;
    QStringList subAccounts_;
    bool offered_ = false; // sub-accounts set during the last validation
    QString picked_;
    QString typed_; // the entry as the operator typed it, before any padding
};
