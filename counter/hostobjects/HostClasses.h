#pragma once
// Registers the host's packer and unpacker classes with the class registry, as the host
// does at start-up.

#include "HostTypes.h"

namespace counter {

HRESULT registerHostClasses();
void unregisterHostClasses();

} // namespace counter
