#pragma once
// The host client's service library: the application frame and the main form.

#include "HostTypes.h"

struct IAppFrame : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4353, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};

    // The frame's objects by name: "ARCom", "PersonalData", "Dictionary", "MemConfig",
    // "UserFunctions", "UserBranchs". An unknown name fails with hr::notFound.
    virtual HRESULT MARLO_STDCALL GetObject(const char* name, IUnknown** object) = 0;

protected:
    ~IAppFrame() = default;
};

// Declared by the host; the module never calls it.
struct IMainForm : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4353, {0x81, 0x10, 0, 0, 0, 0, 0, 0x02}};

protected:
    ~IMainForm() = default;
};
