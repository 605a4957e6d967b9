#include "ClsDict.h"

void TDictionary::connect(IEntry* dictionary, IDataContainer* storage) {
    dictionary_ = HostPtr<IEntry>(dictionary);
    storage_ = HostPtr<IDataContainer>(storage);
}

void TDictionary::lookup(const std::string& dictionaryName, const std::string& key,
                         std::string& caption) const {
    if (!dictionary_)
        throw EHostError("Dictionary", hr::nullPointer);
    HostPtr<IUnknown> found;
    check(dictionary_->Find(dictionaryName.c_str(), found.put()), "Dictionary.Find");
    if (!found)
        return;
    std::string text;
    check(dictionary_->Caption(dictionaryName.c_str(), key.c_str(), &text), "Dictionary.Caption");
    caption = text;
}

void TDictionary::Caption(const std::string& dictionaryName, char key, std::string& caption) const {
    lookup(dictionaryName, std::string(1, key), caption);
}

void TDictionary::Caption(const std::string& dictionaryName, std::int32_t key,
                          std::string& caption) const {
    lookup(dictionaryName, std::to_string(key), caption);
}
