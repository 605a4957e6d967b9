#include "StrangerPool.h"

#include "PasswordThrottle.h"

#include <algorithm>

namespace backoffice {

StrangerPool::StrangerPool(Bounds bounds) : bounds_(bounds), random_(std::random_device{}()) {
    bounds_.room = std::max<std::size_t>(bounds_.room, 1);
}

std::size_t StrangerPool::strangersRoom() const {
    // Known addresses keep at most half the pool, so strangers always have some.
    return bounds_.room - std::min(bounds_.knownRoom, bounds_.room / 2);
}

bool StrangerPool::known(const std::string& address, Clock::time_point now) const {
    const auto it = known_.find(address);
    return it != known_.end() && now - it->second < bounds_.knownFor;
}

StrangerPool::Admission StrangerPool::admit(const std::string& source, Clock::time_point now) {
    const std::string address = PasswordThrottle::addressOf(source);
    Admission admission{false, known(address, now)};
    const auto it = perSource_.find(address);
    const std::size_t fromSource = it == perSource_.end() ? 0 : it->second;
    if (total_ >= bounds_.room)
        return admission;
    if (admission.known) {
        if (fromSource >= bounds_.perKnownSource)
            return admission;
    } else {
        const std::size_t room = strangersRoom();
        if (fromSource >= bounds_.perSource || unknown_ >= room)
            return admission;
        // The first is never refused at random, however small the pool.
        const auto from = std::max<std::size_t>(
            1, static_cast<std::size_t>(bounds_.earlyDropFrom * static_cast<double>(room)));
        if (unknown_ >= from) {
            const double filled = static_cast<double>(unknown_ - from) /
                                  static_cast<double>(std::max<std::size_t>(room - from, 1));
            const double refusal = bounds_.earlyDropChance + (1 - bounds_.earlyDropChance) * filled;
            if (chance_(random_) < refusal)
                return admission;
        }
        ++unknown_;
    }
    ++total_;
    ++perSource_[address];
    admission.taken = true;
    return admission;
}

void StrangerPool::release(const std::string& source, Admission admission) {
    if (!admission.taken)
        return;
    --total_;
    if (!admission.known)
        --unknown_;
    const auto it = perSource_.find(PasswordThrottle::addressOf(source));
    if (--it->second == 0)
        perSource_.erase(it);
}

void StrangerPool::loggedIn(const std::string& source, Clock::time_point now) {
    known_.insert_or_assign(PasswordThrottle::addressOf(source), now);
    // Only logins add addresses, so the map holds about as many as log in within knownFor;
    // those past it go whenever it has doubled.
    if (known_.size() >= knownPruneAt_) {
        std::erase_if(known_,
                      [&](const auto& entry) { return now - entry.second >= bounds_.knownFor; });
        knownPruneAt_ = std::max<std::size_t>(1024, 2 * known_.size());
    }
}

} // namespace backoffice
