#pragma once
// The module's life between the first BizInit and the last BizUninit: the init count, the
// resource library and the four shared reference lists.

#include <cstdint>
#include <string>

class ModuleLifecycle {
public:
    static ModuleLifecycle& instance();

    void init(const char* resourcePath);
    void uninit();

    std::int32_t initCount() const { return initCount_; }
    bool resourceLibraryLoaded() const { return !resourceLibrary_.empty(); }

private:
    std::int32_t initCount_ = 0;
    std::string resourceLibrary_; // the registered file; empty when none
};

// The path under which the module reads a resource of its own: the resource library's
// entry when it has one, else the module's compiled-in one.
std::string ModuleResourcePath(const std::string& name);
