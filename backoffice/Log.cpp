#include "Log.h"

#include <atomic>
#include <cstdio>

namespace backoffice {

namespace {
std::atomic<LogPriority> level{LogPriority::Info};
}

void setLogLevel(LogPriority newLevel) {
    level = newLevel;
}

std::optional<LogPriority> parseLogLevel(const std::string& name) {
    if (name == "error")
        return LogPriority::Error;
    if (name == "warning")
        return LogPriority::Warning;
    if (name == "notice")
        return LogPriority::Notice;
    if (name == "info")
        return LogPriority::Info;
    return std::nullopt;
}

void logLine(LogPriority priority, const std::string& text) {
    if (static_cast<int>(priority) > static_cast<int>(level.load()))
        return;
    // One write per line, so the lines of several threads never interleave.
    const std::string line = "<" + std::to_string(static_cast<int>(priority)) + ">" + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace backoffice
