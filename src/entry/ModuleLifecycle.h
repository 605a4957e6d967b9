#pragma once
// The module's life between the first BizInit and the last BizUninit: the init count, the
// resource library, the four shared reference lists and the print objects.

#include <cstdint>

class ModuleLifecycle {
public:
    static ModuleLifecycle& instance();

    void init(const char* resourcePath);
    void uninit();

    std::int32_t initCount() const { return initCount_; }

private:
    std::int32_t initCount_ = 0;
};
