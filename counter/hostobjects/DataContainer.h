#pragma once
// Session storage ("PersonalData") and the configuration object ("MemConfig"): values by
// key, set by the host at login.

#include "HostObject.h"
#include "STORAGELib_TLB.h"

#include <map>
#include <mutex>
#include <string>

namespace counter {

class KeyedValues {
public:
    void set(const char* key, const Variant& value);
    HRESULT get(const char* key, Variant* value) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Variant, std::less<>> values_;
};

class DataContainer final : public HostObject<IDataContainer> {
public:
    HRESULT MARLO_STDCALL SetValue(const char* key, const Variant& value) override;
    HRESULT MARLO_STDCALL GetValue(const char* key, Variant* value) override;

private:
    ~DataContainer() override = default;
    KeyedValues values_;
};

class MemConfig final : public HostObject<IMemConfig> {
public:
    // The host's own way to fill it.
    void set(const char* key, const Variant& value) { values_.set(key, value); }
    HRESULT MARLO_STDCALL GetValue(const char* key, Variant* value) override;

private:
    ~MemConfig() override = default;
    KeyedValues values_;
};

} // namespace counter
