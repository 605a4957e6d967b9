#include "HostClasses.h"

#include "ClassRegistry.h"
#include "Packer.h"
#include "Unpacker.h"

namespace counter {

HRESULT registerHostClasses() {
    const HRESULT status = MarloRegisterClass(&CLSID_Packer, &Packer::create);
    if (hr::failed(status))
        return status;
    return MarloRegisterClass(&CLSID_Unpacker, &Unpacker::create);
}

void unregisterHostClasses() {
    MarloUnregisterClass(&CLSID_Packer);
    MarloUnregisterClass(&CLSID_Unpacker);
}

} // namespace counter
