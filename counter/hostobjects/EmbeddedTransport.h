#pragma once
// The back office inside the counter, on a thread of its own: Send queues the request and
// the back-office thread answers it, in a session of this counter's own.

#include "Transport.h"

#include "protocol/Service.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace counter {

class EmbeddedTransport final : public Transport {
public:
    explicit EmbeddedTransport(std::shared_ptr<protocol::PacketService> service);
    ~EmbeddedTransport() override;

    void connect(Callbacks callbacks) override;
    HRESULT submit(std::int64_t packetId, std::string request) override;
    std::chrono::microseconds awakeWait() const override { return std::chrono::microseconds(200); }

private:
    void serve();

    std::shared_ptr<protocol::PacketService> service_;
    std::unique_ptr<protocol::PacketSession> session_;
    Callbacks callbacks_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<std::pair<std::int64_t, std::string>> queue_;
    std::atomic<std::size_t> waiting_{0}; // queue_'s size, read without the lock
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace counter
