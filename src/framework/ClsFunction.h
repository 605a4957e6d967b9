#pragma once
// TFunctions: the functions the operator may use, through the host's "UserFunctions" record set.
// One module-wide object, created at the first BizInit and destroyed at the last BizUninit; it
// holds no data of its own.

class TFunctions {
public:
    TFunctions() = default;
    TFunctions(const TFunctions&) = delete;
    TFunctions& operator=(const TFunctions&) = delete;
};
