#pragma once
// A folder of its own for a test, removed with everything in it when the test is done.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

class TemporaryDir {
public:
    TemporaryDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "backoffice_tests-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~TemporaryDir() {
        std::error_code ignored; // a folder that cannot be removed is left to the system
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TemporaryDir(const TemporaryDir&) = delete;
    TemporaryDir& operator=(const TemporaryDir&) = delete;

    bool isValid() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string filePath(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};
