#pragma once
// The process-wide class registry of the platform runtime. The host registers a factory
// per class id at start-up; the module creates host objects by class id and never links
// host code.

#include "HostTypes.h"

// Creates a new object of the class and gives it as the interface `iid`, with one
// reference owned by the caller.
using HostClassFactory = HRESULT (*)(const Guid& iid, void** object);

extern "C" {
MARLO_RUNTIME_API HRESULT MarloRegisterClass(const Guid* clsid, HostClassFactory factory);
MARLO_RUNTIME_API HRESULT MarloUnregisterClass(const Guid* clsid);
// hr::classNotRegistered when no factory is registered for the class id.
MARLO_RUNTIME_API HRESULT MarloCreateInstance(const Guid* clsid, const Guid* iid, void** object);
}
