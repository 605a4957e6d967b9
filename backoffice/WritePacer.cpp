#include "WritePacer.h"

#include <algorithm>

namespace backoffice {

bool WritePacer::take(const std::string& operatorNo, Clock::time_point now) {
    const std::lock_guard lock(mutex_);
    const auto [it, added] = allowances_.try_emplace(operatorNo, Allowance{pace_.burst, now});
    Allowance& a = it->second;
    if (!added) {
        const double minutes =
            std::chrono::duration<double, std::ratio<60>>(now - a.refilled).count();
        a.writes = std::min(pace_.burst, a.writes + minutes * pace_.perMinute);
        a.refilled = now;
    }
    if (a.writes < 1)
        return false;
    a.writes -= 1;
    return true;
}

} // namespace backoffice
