#pragma once
// The platform's error information. Beside a failing status, the object that failed may
// leave a description of the failure for the calling thread, worded for the operator; the
// caller takes it (once) when it turns the status into an error.

#include "HostTypes.h"

#include <string>

struct IErrorInfo : IUnknown {
    static constexpr Guid iid{0x4D524C01, 0x0901, 0x4132, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};

    virtual HRESULT MARLO_STDCALL GetDescription(std::string* text) = 0;

protected:
    ~IErrorInfo() = default;
};

extern "C" {
// Replaces the calling thread's error information; nullptr clears it. The thread keeps a
// reference of its own.
MARLO_RUNTIME_API HRESULT MarloSetErrorInfo(std::uint32_t reserved, IErrorInfo* info);
// Takes the calling thread's error information, leaving none: the caller owns the
// reference given. hr::falseOk and nullptr when there is none.
MARLO_RUNTIME_API HRESULT MarloGetErrorInfo(std::uint32_t reserved, IErrorInfo** info);
}
