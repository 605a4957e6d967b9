#pragma once
// The host's side of the error information: a failing operation leaves its description
// for the calling thread and returns its status.

#include "ErrorInfo.h"
#include "HostTypes.h"

#include <string>

namespace counter {

// Leaves the description for the calling thread; gives back the status.
HRESULT failWith(HRESULT status, const std::string& description);
// No description is left over from an earlier failure.
void clearErrorInfo();

} // namespace counter
