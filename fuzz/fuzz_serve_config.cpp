// Reads any bytes as the back office's configuration file, then turns what it read into
// the server's settings: a bad file is a ConfigError or a UsageError, never anything else.

#include "CommandLine.h"
#include "ServeConfig.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

// The file each input is written to, removed when the run ends.
struct InputFile {
    std::string path = "/tmp/fuzz_serve_config-" + std::to_string(::getpid());
    ~InputFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reader takes a file, as the service gives it one.
    static const InputFile input;
    const std::string& path = input.path;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        const backoffice::Options options =
            backoffice::readConfigFile(path, backoffice::serveOptions());
        backoffice::serveSettings(options);
    } catch (const backoffice::ConfigError&) {
    } catch (const backoffice::UsageError&) {
    }
    return 0;
}
