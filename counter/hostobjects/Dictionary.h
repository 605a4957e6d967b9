#pragma once
// The data dictionary ("Dictionary"): named dictionaries of item key → caption.

#include "CLIENTUILib_TLB.h"
#include "HostObject.h"

#include <map>
#include <string>

namespace counter {

class Dictionary final : public HostObject<IEntry> {
public:
    void add(const std::string& dictionaryName, const std::string& itemKey,
             const std::string& caption);

    HRESULT MARLO_STDCALL Find(const char* dictionaryName, IUnknown** dictionary) override;
    HRESULT MARLO_STDCALL Caption(const char* dictionaryName, const char* itemKey,
                                  std::string* caption) override;

private:
    ~Dictionary() override = default;
    std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>> tables_;
};

} // namespace counter
