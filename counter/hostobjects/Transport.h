#pragma once
// How the communication object reaches a back office. A transport takes a packed request
// under its packet id and, some time later and on any thread, hands back the reply under
// the same id.

#include "HostTypes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace counter {

class Transport {
public:
    struct Callbacks {
        // The reply of a packet.
        std::function<void(std::int64_t packetId, std::string reply)> deliver;
        // The transport can no longer carry anything; the status says why.
        std::function<void(HRESULT status)> broken;
        // A reply the transport threw away: no request awaits its packet id.
        std::function<void(std::int64_t packetId)> dropped = {};
    };

    virtual ~Transport() = default;

    // Called once, before the first submit.
    virtual void connect(Callbacks callbacks) = 0;
    // Queues a request; a failing status means it was not taken.
    virtual HRESULT submit(std::int64_t packetId, std::string request) = 0;
    // The communication object gave the packet up with that status: no reply came in time,
    // or the connection broke while it waited.
    virtual void abandoned(std::int64_t, HRESULT) {}
    // How long a receiver may stay awake waiting for a reply before it sleeps: worth it
    // only where replies come back within microseconds (in the same process).
    virtual std::chrono::microseconds awakeWait() const { return std::chrono::microseconds(0); }
};

} // namespace counter
