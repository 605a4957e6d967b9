#include "HostPtr.h"

#include <cstdio>

namespace {
std::string statusText(const std::string& operation, HRESULT status) {
    char code[16];
    std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(status));
    return operation + " failed with status 0x" + code;
}

std::string describe(const std::string& operation, HRESULT status, const std::string& description) {
    if (description.empty())
        return statusText(operation, status);
    return description + "\n(" + statusText(operation, status) + ")";
}
} // namespace

std::string EHostError::operatorText() const {
    return description_.empty() ? "主机操作失败，本次操作未完成。" : description_;
}

std::string EHostError::technicalText() const {
    return statusText(operation_, status_);
}

EHostError::EHostError(std::string operation, HRESULT status, const std::string& description)
    : std::runtime_error(describe(operation, status, description)),
      operation_(std::move(operation)), status_(status), description_(description) {}

std::string TakeErrorDescription() {
    HostPtr<IErrorInfo> info;
    if (MarloGetErrorInfo(0, info.put()) != hr::ok || !info)
        return {};
    std::string text;
    if (hr::failed(info->GetDescription(&text)))
        return {};
    return text;
}
