#include "ErrorInfo.h"

#include <utility>

namespace {

// The thread's error information, released when the thread ends.
struct Slot {
    IErrorInfo* info = nullptr;
    ~Slot() {
        if (info)
            info->Release();
    }
};

Slot& slot() {
    thread_local Slot s;
    return s;
}

} // namespace

extern "C" HRESULT MarloSetErrorInfo(std::uint32_t, IErrorInfo* info) {
    if (info)
        info->AddRef();
    if (IErrorInfo* old = std::exchange(slot().info, info))
        old->Release();
    return hr::ok;
}

extern "C" HRESULT MarloGetErrorInfo(std::uint32_t, IErrorInfo** info) {
    if (info == nullptr)
        return hr::nullPointer;
    *info = std::exchange(slot().info, nullptr);
    return *info ? hr::ok : hr::falseOk;
}
