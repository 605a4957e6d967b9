#pragma once
// TBusinessList: the business kinds, through the host's dictionary. It only holds the
// reference; nothing in the module looks a business kind up.

#include "CLIENTUILib_TLB.h"
#include "HostPtr.h"

class TBusinessList {
public:
    TBusinessList() = default;
    TBusinessList(const TBusinessList&) = delete;
    TBusinessList& operator=(const TBusinessList&) = delete;

    void connect(IEntry* dictionary) { dictionary_ = HostPtr<IEntry>(dictionary); }
    IEntry* dictionary() const { return dictionary_.get(); }

private:
    HostPtr<IEntry> dictionary_;
};
