#include "HostErrorInfo.h"

#include <atomic>

namespace counter {

namespace {

// A plain object of the base interface (no dispatch slots); it may be released on another
// thread than the one that made it, so its count is atomic.
class ErrorInfo final : public IErrorInfo {
public:
    explicit ErrorInfo(std::string description) : description_(std::move(description)) {}

    HRESULT MARLO_STDCALL QueryInterface(const Guid& iid, void** object) override {
        if (object == nullptr)
            return hr::nullPointer;
        *object = iid == IUnknown::iid || iid == IErrorInfo::iid ? this : nullptr;
        if (*object == nullptr)
            return hr::noInterface;
        AddRef();
        return hr::ok;
    }
    std::uint32_t MARLO_STDCALL AddRef() override { return ++refs_; }
    std::uint32_t MARLO_STDCALL Release() override {
        const std::uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT MARLO_STDCALL GetDescription(std::string* text) override {
        if (text == nullptr)
            return hr::nullPointer;
        *text = description_;
        return hr::ok;
    }

private:
    ~ErrorInfo() = default;
    std::atomic<std::uint32_t> refs_{1};
    std::string description_;
};

} // namespace

HRESULT failWith(HRESULT status, const std::string& description) {
    auto* info = new ErrorInfo(description);
    MarloSetErrorInfo(0, info);
    info->Release(); // the thread holds its own reference
    return status;
}

void clearErrorInfo() {
    MarloSetErrorInfo(0, nullptr);
}

} // namespace counter
