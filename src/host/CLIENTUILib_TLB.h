#pragma once
// The host client's interface library: the data dictionary.

#include "HostTypes.h"

#include <string>

struct IEntry : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4355, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};

    // The dictionary of that name, or a null object (and success) when there is none.
    virtual HRESULT MARLO_STDCALL Find(const char* dictionaryName, IUnknown** dictionary) = 0;
    // The caption of an item; empty when the item is not in the dictionary.
    virtual HRESULT MARLO_STDCALL Caption(const char* dictionaryName, const char* itemKey,
                                          std::string* caption) = 0;

protected:
    ~IEntry() = default;
};
