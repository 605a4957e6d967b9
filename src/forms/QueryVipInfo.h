#pragma once
// TfrmQueryVipInfo (menu 730105): the VIP clients, page by page from request 730004,
// filtered by the branches allowed and a fund account.

#include "QZForm.h"
#include "VipInfoCondition.h"

#include <QPointer>

#include <memory>

namespace Ui {
class TfrmQueryVipInfo;
}

class TfrmQueryVipInfo : public TQZFormBase {
    Q_OBJECT
public:
    TfrmQueryVipInfo();
    ~TfrmQueryVipInfo() override;

    // Sends the query; `reply` holds the reply packet, or stays empty on a server error.
    void QryInfo(Variant& reply);
    // Fetches one page and appends its rows.
    void LoadPage();
    // The list again from its first page.
    void Refresh();
    void QueryNext();

    TVipInfoCondition condition;
    Ui::TfrmQueryVipInfo& ui() { return *ui_; }

protected:
    void HostAttached() override;
    void FormKeyDown(QKeyEvent* key) override;

private:
    void lvVipClientInfoGetNewPage();
    void hbtQueryClick();
    void htbCancleClick();

    std::unique_ptr<Ui::TfrmQueryVipInfo> ui_;
};

class TfrmVipInfoCondition;
// The condition dialog while it is open.
QPointer<TfrmVipInfoCondition>& VipInfoConditionDialog();
