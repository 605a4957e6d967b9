#pragma once
// TBranchList: the branches the operator may serve, the host's "UserBranchs" record set.

#include "BIZ1PACKETLib_TLB.h"
#include "HostPtr.h"

#include <QStringList>

#include <string>

class TBranchList {
public:
    TBranchList() = default;
    TBranchList(const TBranchList&) = delete;
    TBranchList& operator=(const TBranchList&) = delete;

    void connect(IUnpackerDisp* branches) { branches_ = HostPtr<IUnpackerDisp>(branches); }

    // Appends a line "branch_no|branch_name" per branch whose kind occurs in branchKinds
    // (every branch when branchKinds is blank), in the order of the record set.
    void FillBranches(QStringList& list, const std::string& branchKinds) const;

private:
    HostPtr<IUnpackerDisp> branches_;
};
