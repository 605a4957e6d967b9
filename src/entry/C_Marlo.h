#pragma once
// The module's four exports, the whole of its outer surface.

#include "CLIENTSILib_TLB.h"
#include "HostTypes.h"

#include <cstdint>

#if defined(_WIN32)
// C_Marlo.def names the exports: a declspec would add the decorated stdcall names.
#define C_MARLO_API
#elif defined(C_MARLO_BUILD)
#define C_MARLO_API MARLO_DECL_EXPORT
#else
#define C_MARLO_API MARLO_DECL_IMPORT
#endif

extern "C" {
// Writes the module's identification (at most 32 characters and a zero byte) and its two
// version words.
C_MARLO_API void MARLO_STDCALL BizGetDevInfo(char* text, std::int32_t* value1,
                                             std::int32_t* value2);
C_MARLO_API void MARLO_STDCALL BizInit(std::int32_t reserved1, const char* resourcePath,
                                       IUnknown* host, std::int32_t reserved2);
C_MARLO_API void MARLO_STDCALL BizUninit();
// The window handle of the form opened for the menu code, or 0.
C_MARLO_API WindowHandle MARLO_STDCALL BizEntry(std::uint32_t menuCode, WindowHandle parentWindow,
                                                WindowHandle closeNotifyWindow, IAppFrame* appFrame,
                                                std::int32_t showOnly);
}
