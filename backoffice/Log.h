#pragma once
// The server's log: lines on standard error, each with its priority in front as "<3>",
// "<4>", "<6>", so that the system journal keeps the levels of a service's lines.

#include <optional>
#include <string>

namespace backoffice {

enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// Lines less urgent than the level are left out.
void setLogLevel(LogPriority level);
// "error", "warning", "notice" or "info".
std::optional<LogPriority> parseLogLevel(const std::string& name);

void logLine(LogPriority priority, const std::string& text);

} // namespace backoffice
