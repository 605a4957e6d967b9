#pragma once
// TBranchList: the branches the operator may serve, through the host's "UserBranchs" record set.
// One module-wide object, created at the first BizInit and destroyed at the last BizUninit; it
// holds no data of its own.

class TBranchList {
public:
    TBranchList() = default;
    TBranchList(const TBranchList&) = delete;
    TBranchList& operator=(const TBranchList&) = delete;
};
