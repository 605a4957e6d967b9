#pragma once
// The first generation of the host's communication library. Declared by the host; the
// module never calls it.

#include "HostTypes.h"

struct IARComV1 : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4131, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};

protected:
    ~IARComV1() = default;
};
