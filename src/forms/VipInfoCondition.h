#pragma once
// TfrmVipInfoCondition: the VIP list's query conditions, the branches allowed and a fund
// account.

#include <QDialog>

#include <cstdint>
#include <memory>
#include <string>

namespace Ui {
class TfrmVipInfoCondition;
}

// The VIP list's query condition and paging cursor.
struct TVipInfoCondition {
    std::string en_branch_no;       // the branches allowed, the check-combo's text; empty: all
    std::int32_t fund_account = 0;  // 0: no condition
    std::string position_str = "0"; // the paging cursor, at most 32 characters
    std::int32_t request_num = 30;
};

class TfrmVipInfoCondition : public QDialog {
    Q_OBJECT
public:
    TfrmVipInfoCondition(TVipInfoCondition& condition, QWidget* owner);
    ~TfrmVipInfoCondition() override;
    Ui::TfrmVipInfoCondition& ui() { return *ui_; }

private:
    void FormCreate();
    void hbtnOKClick();

    TVipInfoCondition& condition_;
    std::unique_ptr<Ui::TfrmVipInfoCondition> ui_;
};
