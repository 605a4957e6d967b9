#include "ClassRegistry.h"

#include <mutex>
#include <vector>

namespace {

struct Registration {
    Guid clsid;
    HostClassFactory factory;
};

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<Registration>& registry() {
    static std::vector<Registration> entries;
    return entries;
}

} // namespace

extern "C" HRESULT MarloRegisterClass(const Guid* clsid, HostClassFactory factory) {
    if (clsid == nullptr || factory == nullptr)
        return hr::nullPointer;
    std::lock_guard lock(registryMutex());
    for (Registration& r : registry()) {
        if (r.clsid == *clsid) {
            r.factory = factory;
            return hr::ok;
        }
    }
    registry().push_back({*clsid, factory});
    return hr::ok;
}

extern "C" HRESULT MarloUnregisterClass(const Guid* clsid) {
    if (clsid == nullptr)
        return hr::nullPointer;
    std::lock_guard lock(registryMutex());
    std::erase_if(registry(), [&](const Registration& r) { return r.clsid == *clsid; });
    return hr::ok;
}

extern "C" HRESULT MarloCreateInstance(const Guid* clsid, const Guid* iid, void** object) {
    if (clsid == nullptr || iid == nullptr || object == nullptr)
        return hr::nullPointer;
    *object = nullptr;
    HostClassFactory factory = nullptr;
    {
        std::lock_guard lock(registryMutex());
        for (const Registration& r : registry()) {
            if (r.clsid == *clsid)
                factory = r.factory;
        }
    }
    if (factory == nullptr)
        return hr::classNotRegistered;
    return factory(*iid, object);
}
