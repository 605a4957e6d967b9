#pragma once
// The host's storage library: session storage ("PersonalData") and the configuration
// object ("MemConfig").

#include "HostTypes.h"
#include "Variant.h"

struct IDataContainer : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x5354, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};

    virtual HRESULT MARLO_STDCALL SetValue(const char* key, const Variant& value) = 0;
    // A key never set fails with hr::notFound.
    virtual HRESULT MARLO_STDCALL GetValue(const char* key, Variant* value) = 0;

protected:
    ~IDataContainer() = default;
};

struct IMemConfig : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x5354, {0x81, 0x10, 0, 0, 0, 0, 0, 0x02}};

    // A key never set fails with hr::notFound.
    virtual HRESULT MARLO_STDCALL GetValue(const char* key, Variant* value) = 0;

protected:
    ~IMemConfig() = default;
};
