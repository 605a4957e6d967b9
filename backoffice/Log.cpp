#include "Log.h"

#include <cstdio>

namespace backoffice {

void logLine(LogPriority priority, const std::string& text) {
    // One write per line, so the lines of several threads never interleave.
    const std::string line = "<" + std::to_string(static_cast<int>(priority)) + ">" + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace backoffice
