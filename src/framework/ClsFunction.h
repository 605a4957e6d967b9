#pragma once
// TFunctions: the functions the operator may use, the host's "UserFunctions" record set.
// It only holds the reference.

#include "BIZ1PACKETLib_TLB.h"
#include "HostPtr.h"

class TFunctions {
public:
    TFunctions() = default;
    TFunctions(const TFunctions&) = delete;
    TFunctions& operator=(const TFunctions&) = delete;

    void connect(IUnpackerDisp* functions) { functions_ = HostPtr<IUnpackerDisp>(functions); }
    IUnpackerDisp* functions() const { return functions_.get(); }

private:
    HostPtr<IUnpackerDisp> functions_;
};
