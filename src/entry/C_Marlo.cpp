#include "C_Marlo.h"

#include "BoundaryLayout.h"

#include "C_MarloEntry.h"
#include "HostPtr.h"
#include "ModuleLifecycle.h"

#include <cstring>
#include <type_traits>

// The exports are what the host calls through its function pointers, calling convention
// included.
static_assert(std::is_same_v<decltype(&BizGetDevInfo), BizGetDevInfoProc> &&
              std::is_same_v<decltype(&BizInit), BizInitProc> &&
              std::is_same_v<decltype(&BizUninit), BizUninitProc> &&
              std::is_same_v<decltype(&BizEntry), BizEntryProc>);

namespace {
// The module's identification: at most 32 bytes (UTF-8, three bytes a Chinese character)
// and the terminating zero.
constexpr char devInfo[] = "VIP快速交易客户模块";
static_assert(sizeof devInfo <= 33);

constexpr std::int32_t versionWord(std::uint16_t high, std::uint16_t low) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) | low);
}
} // namespace

// Every export is an exception barrier: nothing may unwind into the host.

extern "C" void MARLO_STDCALL BizGetDevInfo(char* text, std::int32_t* value1,
                                            std::int32_t* value2) {
    if (text != nullptr)
        std::memcpy(text, devInfo, sizeof devInfo);
    if (value1 != nullptr)
        *value1 = versionWord(6, 0);
    if (value2 != nullptr)
        *value2 = versionWord(6, 240);
}

extern "C" void MARLO_STDCALL BizInit(std::int32_t, const char* resourcePath, IUnknown* host,
                                      std::int32_t) {
    try {
        const HostPtr<IUnknown> heldForTheCall(host);
        ModuleLifecycle::instance().init(resourcePath);
    } catch (...) {
    }
}

extern "C" void MARLO_STDCALL BizUninit() {
    try {
        ModuleLifecycle::instance().uninit();
    } catch (...) {
    }
}

extern "C" WindowHandle MARLO_STDCALL BizEntry(std::uint32_t menuCode, WindowHandle parentWindow,
                                               WindowHandle closeNotifyWindow, IAppFrame* appFrame,
                                               std::int32_t showOnly) {
    try {
        const HostPtr<IAppFrame> heldForTheCall(appFrame);
        return OpenMenuFunction(menuCode, parentWindow, closeNotifyWindow, appFrame, showOnly);
    } catch (...) {
        return 0;
    }
}
