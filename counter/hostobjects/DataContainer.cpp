#include "DataContainer.h"

namespace counter {

void KeyedValues::set(const char* key, const Variant& value) {
    std::lock_guard lock(mutex_);
    values_[key] = value;
}

HRESULT KeyedValues::get(const char* key, Variant* value) const {
    if (key == nullptr || value == nullptr)
        return hr::nullPointer;
    std::lock_guard lock(mutex_);
    const auto it = values_.find(std::string_view(key));
    if (it == values_.end())
        return hr::notFound;
    *value = it->second;
    return hr::ok;
}

HRESULT DataContainer::SetValue(const char* key, const Variant& value) {
    if (key == nullptr)
        return hr::nullPointer;
    values_.set(key, value);
    return hr::ok;
}

HRESULT DataContainer::GetValue(const char* key, Variant* value) {
    return values_.get(key, value);
}

HRESULT MemConfig::GetValue(const char* key, Variant* value) {
    return values_.get(key, value);
}

} // namespace counter
