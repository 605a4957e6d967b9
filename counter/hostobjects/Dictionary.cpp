#include "Dictionary.h"

namespace counter {

namespace {

// What Find hands out: the dictionary as an object of its own, which keeps the whole
// dictionary alive while it is held.
class DictionaryTable final : public HostObject<IDispatch> {
public:
    explicit DictionaryTable(IEntry* owner) : owner_(owner) { owner_->AddRef(); }

private:
    ~DictionaryTable() override { owner_->Release(); }
    IEntry* owner_;
};

} // namespace

void Dictionary::add(const std::string& dictionaryName, const std::string& itemKey,
                     const std::string& caption) {
    tables_[dictionaryName][itemKey] = caption;
}

HRESULT Dictionary::Find(const char* dictionaryName, IUnknown** dictionary) {
    if (dictionaryName == nullptr || dictionary == nullptr)
        return hr::nullPointer;
    *dictionary = nullptr;
    if (tables_.find(std::string_view(dictionaryName)) != tables_.end())
        *dictionary = new DictionaryTable(this);
    return hr::ok;
}

HRESULT Dictionary::Caption(const char* dictionaryName, const char* itemKey, std::string* caption) {
    if (dictionaryName == nullptr || itemKey == nullptr || caption == nullptr)
        return hr::nullPointer;
    caption->clear();
    const auto table = tables_.find(std::string_view(dictionaryName));
    if (table == tables_.end())
        return hr::ok;
    const auto item = table->second.find(std::string_view(itemKey));
    if (item != table->second.end())
        *caption = item->second;
    return hr::ok;
}

} // namespace counter
