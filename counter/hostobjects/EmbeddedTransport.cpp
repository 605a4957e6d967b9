#include "EmbeddedTransport.h"

#include <chrono>

namespace counter {

EmbeddedTransport::EmbeddedTransport(std::shared_ptr<protocol::PacketService> service)
    : service_(std::move(service)), session_(service_->openSession()) {}

EmbeddedTransport::~EmbeddedTransport() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void EmbeddedTransport::connect(Callbacks callbacks) {
    callbacks_ = std::move(callbacks);
    thread_ = std::thread([this] { serve(); });
}

HRESULT EmbeddedTransport::submit(std::int64_t packetId, std::string request) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return hr::transportBroken;
        queue_.emplace_back(packetId, std::move(request));
        ++waiting_;
    }
    queued_.notify_one();
    return hr::ok;
}

void EmbeddedTransport::serve() {
    for (;;) {
        std::pair<std::int64_t, std::string> job;
        {
            std::unique_lock lock(mutex_);
            // A counter sends its requests one after the other: waiting a moment awake
            // for the next one answers it without the cost of waking a sleeping thread.
            if (queue_.empty() && !stopping_) {
                const auto awakeUntil =
                    std::chrono::steady_clock::now() + std::chrono::microseconds(500);
                lock.unlock();
                while (waiting_.load() == 0 && std::chrono::steady_clock::now() < awakeUntil)
                    std::this_thread::yield();
                lock.lock();
            }
            queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            job = std::move(queue_.front());
            queue_.pop_front();
            --waiting_;
        }
        callbacks_.deliver(job.first, session_->handle(job.second));
    }
}

} // namespace counter
