#pragma once
// TDictionary: captions of the host's data dictionaries (code to caption). It holds no
// data of its own; every lookup goes to the host's dictionary.

#include "CLIENTUILib_TLB.h"
#include "HostPtr.h"
#include "STORAGELib_TLB.h"

#include <cstdint>
#include <string>

class TDictionary {
public:
    TDictionary() = default;
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;

    void connect(IEntry* dictionary, IDataContainer* storage);

    // The caption of the item in the named dictionary. With no such dictionary, `caption`
    // keeps what it held.
    void Caption(const std::string& dictionaryName, char key, std::string& caption) const;
    void Caption(const std::string& dictionaryName, std::int32_t key, std::string& caption) const;

private:
    void lookup(const std::string& dictionaryName, const std::string& key,
                std::string& caption) const;

    HostPtr<IEntry> dictionary_;
    HostPtr<IDataContainer> storage_;
};
