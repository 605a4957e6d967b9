#include "AppFrame.h"

namespace counter {

AppFrame::~AppFrame() {
    for (auto& [name, object] : objects_)
        object->Release();
}

void AppFrame::setObject(const std::string& name, IUnknown* object) {
    if (object)
        object->AddRef();
    const auto it = objects_.find(name);
    if (it != objects_.end()) {
        it->second->Release();
        objects_.erase(it);
    }
    if (object)
        objects_.emplace(name, object);
}

HRESULT AppFrame::GetObject(const char* name, IUnknown** object) {
    if (name == nullptr || object == nullptr)
        return hr::nullPointer;
    *object = nullptr;
    const auto it = objects_.find(std::string_view(name));
    if (it == objects_.end())
        return hr::notFound;
    *object = it->second;
    (*object)->AddRef();
    return hr::ok;
}

} // namespace counter
