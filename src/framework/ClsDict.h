#pragma once
// TDictionary: the data dictionaries (code to caption), through the host's dictionary and session
// storage. One module-wide object, created at the first BizInit and destroyed at the last
// BizUninit; it holds no data of its own.

class TDictionary {
public:
    TDictionary() = default;
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;
};
