#pragma once
// The module's four exports as a host calls them after loading the library at run time.

#include "CLIENTSILib_TLB.h"
#include "HostTypes.h"

#include <cstdint>

using BizGetDevInfoProc = void(MARLO_STDCALL*)(char* text, std::int32_t* value1,
                                               std::int32_t* value2);
using BizInitProc = void(MARLO_STDCALL*)(std::int32_t reserved1, const char* resourcePath,
                                         IUnknown* host, std::int32_t reserved2);
using BizUninitProc = void(MARLO_STDCALL*)();
using BizEntryProc = WindowHandle(MARLO_STDCALL*)(std::uint32_t menuCode, WindowHandle parentWindow,
                                                  WindowHandle closeNotifyWindow,
                                                  IAppFrame* appFrame, std::int32_t showOnly);
