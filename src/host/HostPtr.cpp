#include "HostPtr.h"

#include <cstdio>

namespace {
std::string describe(const std::string& operation, HRESULT status) {
    char code[16];
    std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(status));
    return operation + " failed with status 0x" + code;
}
} // namespace

EHostError::EHostError(std::string operation, HRESULT status)
    : std::runtime_error(describe(operation, status)), operation_(std::move(operation)),
      status_(status) {}
