#pragma once
// The host's communication object. Each Send gets a new packet id (never reused); Receive
// waits for the reply of that id up to its time-out. A reply that comes after its packet
// was given up, or for an id never sent, is dropped and counted: it is never handed to
// another request. A broken connection fails the packets that wait for a reply (they may
// have reached the back office, so none is sent again); the next Send asks the transport
// anew. Failures leave the operator a description beside their status.

#include "AR2COMLib_TLB.h"
#include "HostObject.h"
#include "Transport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace counter {

class ARCom final : public HostObject<IARCom> {
public:
    explicit ARCom(std::unique_ptr<Transport> transport);

    HRESULT MARLO_STDCALL Send(const Variant& data, std::int32_t flag, Variant* packetId) override;
    HRESULT MARLO_STDCALL Receive(const Variant& packetId, std::int32_t timeoutMs,
                                  Variant* reply) override;
    HRESULT MARLO_STDCALL InitRequest(std::int32_t functionNo, IPackerDisp* packer) override;
    HRESULT MARLO_STDCALL DetachSink(IUnknown* sink) override;

    // The host's own: raise the events of this object to a sink from now on.
    HRESULT attachSink(IUnknown* sink);
    std::size_t sinkCount() const;
    // What the host does while Receive waits for a reply on the thread that calls it:
    // `begins` once the reply is not there at once, `pump` every `every` at most (the host
    // paints its windows and runs its timers there), `ends` once the wait is over on every
    // path (reply, failure, time-out). Operator input of the wait is the host's to discard.
    struct WaitPump {
        std::function<void()> begins;
        std::function<void()> pump;
        std::function<void()> ends;
    };
    void setWaitPump(WaitPump pump, std::chrono::milliseconds every);
    // Replies that came for a packet nobody waits for any more, or never sent.
    std::uint64_t droppedReplies() const;
    // Sends and receives that failed so far, and the description of the last one.
    std::uint64_t failures() const { return failures_; }
    const std::string& lastFailure() const { return lastFailure_; }

private:
    ~ARCom() override;
    void deliver(std::int64_t packetId, std::string reply);
    void broken(HRESULT status);
    HRESULT failed(HRESULT status, const std::string& description);

    struct Pending {
        std::optional<std::string> reply;
        HRESULT failure = hr::ok; // the connection broke while it waited
    };

    std::unique_ptr<Transport> transport_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::int64_t lastPacketId_ = 0;
    std::unordered_map<std::int64_t, Pending> pending_;
    std::uint64_t dropped_ = 0;
    std::atomic<std::uint64_t> deliveries_{0};
    std::uint64_t failures_ = 0;
    std::string lastFailure_;
    WaitPump pump_;
    std::chrono::milliseconds pumpEvery_{0};
    std::vector<IARComEvents*> sinks_;
};

} // namespace counter
