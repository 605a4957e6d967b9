#pragma once
// The layouts host and module share across the boundary. The host the module was made for
// is a 32-bit Windows program: its pointers, window handles and interface pointers are four
// bytes, each interface is a single table pointer whose methods are stdcall, so a build for
// it must hold these.

#include "AR1Com_TLB.h"
#include "AR2COMLib_TLB.h"
#include "BIZ1PACKETLib_TLB.h"
#include "CLIENTSILib_TLB.h"
#include "CLIENTUILib_TLB.h"
#include "ErrorInfo.h"
#include "HostTypes.h"
#include "ModuleExports.h"
#include "STORAGELib_TLB.h"

#include <type_traits>

namespace boundary_layout {

// An interface is its table pointer alone: no data, no second base with a table of its own.
template <class Interface> constexpr bool isBareInterface() {
    return std::is_polymorphic_v<Interface> && sizeof(Interface) == sizeof(void*) &&
           alignof(Interface) == alignof(void*);
}

static_assert(isBareInterface<IUnknown>() && isBareInterface<IDispatch>());
static_assert(isBareInterface<IARComV1>() && isBareInterface<IARComEvents>() &&
              isBareInterface<IARCom>());
static_assert(isBareInterface<IFieldDisp>() && isBareInterface<IPackerDisp>() &&
              isBareInterface<IUnpackerDisp>());
static_assert(isBareInterface<IAppFrame>() && isBareInterface<IMainForm>());
static_assert(isBareInterface<IEntry>());
static_assert(isBareInterface<IDataContainer>() && isBareInterface<IMemConfig>());
static_assert(isBareInterface<IErrorInfo>());
static_assert(sizeof(HRESULT) == 4 && sizeof(Guid) == 16 && alignof(Guid) == 4);
static_assert(sizeof(WindowHandle) == sizeof(void*));

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(void*) == 4, "the host is a 32-bit program");
static_assert(sizeof(WindowHandle) == 4, "a window handle is four bytes");
static_assert(sizeof(IUnknown) == 4 && sizeof(IDispatch) == 4 && sizeof(IAppFrame) == 4,
              "an interface pointer is a four-byte table pointer");
static_assert(sizeof(long) == 4 && sizeof(int) == 4);
#endif

} // namespace boundary_layout
