#pragma once
// The host's application frame: its service objects by name.

#include "CLIENTSILib_TLB.h"
#include "HostObject.h"

#include <map>
#include <string>

namespace counter {

class AppFrame final : public HostObject<IAppFrame> {
public:
    // Holds a reference of its own to the object; null removes the name.
    void setObject(const std::string& name, IUnknown* object);

    HRESULT MARLO_STDCALL GetObject(const char* name, IUnknown** object) override;

private:
    ~AppFrame() override;
    std::map<std::string, IUnknown*, std::less<>> objects_;
};

} // namespace counter
