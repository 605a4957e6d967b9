#include "ARCom.h"

#include "HostErrorInfo.h"
#include "Packer.h"

#include <chrono>
#include <limits>
#include <thread>

namespace counter {

namespace {

const char* const notConnected = "与后台的连接已断开，请稍后重试。";
const char* const brokenWhileWaiting =
    "与后台的连接已断开，本次业务可能未完成，请查询确认后再重试。";

std::string noReplyWithin(std::int32_t timeoutMs) {
    return "后台在 " + std::to_string((std::max(0, timeoutMs) + 999) / 1000) +
           " 秒内没有应答，本次业务可能未完成，请查询确认后再重试。";
}

} // namespace

ARCom::ARCom(std::unique_ptr<Transport> transport) : transport_(std::move(transport)) {
    transport_->connect(
        {[this](std::int64_t id, std::string reply) { deliver(id, std::move(reply)); },
         [this](HRESULT status) { broken(status); },
         [this](std::int64_t) {
             std::lock_guard lock(mutex_);
             ++dropped_;
         }});
}

ARCom::~ARCom() {
    // The transport goes first: no callback may reach a half-destroyed object.
    transport_.reset();
    for (IARComEvents* sink : sinks_)
        sink->Release();
}

HRESULT ARCom::Send(const Variant& data, std::int32_t, Variant* packetId) {
    clearErrorInfo();
    if (packetId == nullptr)
        return hr::nullPointer;
    if (data.kind() != Variant::Kind::Bytes)
        return hr::typeMismatch;
    std::int64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        id = ++lastPacketId_;
        pending_.emplace(id, Pending{});
    }
    // A transport whose connection broke connects again here, or refuses the request.
    const HRESULT status = transport_->submit(id, data.bytes());
    if (hr::failed(status)) {
        std::lock_guard lock(mutex_);
        pending_.erase(id);
        return failed(status, notConnected);
    }
    *packetId = Variant(id);
    return hr::ok;
}

HRESULT ARCom::Receive(const Variant& packetId, std::int32_t timeoutMs, Variant* reply) {
    clearErrorInfo();
    if (reply == nullptr)
        return hr::nullPointer;
    if (packetId.kind() != Variant::Kind::Integer)
        return hr::typeMismatch;
    const std::int64_t id = packetId.integer();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    std::string data;
    {
        std::unique_lock lock(mutex_);
        if (pending_.find(id) == pending_.end())
            return hr::unknownPacket;
        const auto ready = [&] {
            const Pending& p = pending_.at(id);
            return p.reply.has_value() || hr::failed(p.failure);
        };
        // Where replies come within microseconds, staying awake for them spares the cost of
        // a sleeping thread's wake-up.
        const auto awakeUntil =
            std::min(deadline, std::chrono::steady_clock::now() + transport_->awakeWait());
        if (!ready() && std::chrono::steady_clock::now() < awakeUntil) {
            // Watch the delivery count without the lock, so the delivering thread is not
            // kept from it.
            const std::uint64_t seen = deliveries_.load();
            lock.unlock();
            while (deliveries_.load() == seen && std::chrono::steady_clock::now() < awakeUntil)
                std::this_thread::yield();
            lock.lock();
        }
        if (!ready() && pump_.pump) {
            // The wait is the host's from here on: it shows it and discards the operator's
            // input until the wait ends, on every path out of this block.
            const WaitPump pump = pump_;
            lock.unlock();
            if (pump.begins)
                pump.begins();
            // The host's end of the wait runs without the lock, as its pump does.
            struct Ends {
                const WaitPump& pump;
                std::unique_lock<std::mutex>& lock;
                ~Ends() {
                    lock.unlock();
                    if (pump.ends)
                        pump.ends();
                    lock.lock();
                }
            };
            lock.lock();
            const Ends ends{pump, lock};
            while (!ready() && std::chrono::steady_clock::now() < deadline) {
                arrived_.wait_until(
                    lock, std::min(deadline, std::chrono::steady_clock::now() + pumpEvery_), ready);
                if (ready())
                    break;
                // The host's windows paint and its timers run; the lock is not held meanwhile.
                lock.unlock();
                pump.pump();
                lock.lock();
            }
        } else if (!ready()) {
            arrived_.wait_until(lock, deadline, ready);
        }
        const auto it = pending_.find(id);
        const bool came = it->second.reply.has_value();
        const HRESULT failure = came                             ? hr::ok
                                : hr::failed(it->second.failure) ? it->second.failure
                                                                 : hr::timeout;
        if (!came) {
            pending_.erase(it); // a reply that still comes is dropped in deliver
            lock.unlock();
            transport_->abandoned(id, failure);
            return failed(failure, failure == hr::timeout ? noReplyWithin(timeoutMs)
                                                          : std::string(brokenWhileWaiting));
        }
        data = std::move(*it->second.reply);
        pending_.erase(it);
    }
    *reply = Variant::fromBytes(std::move(data));
    const auto shortId = static_cast<std::int32_t>(id & std::numeric_limits<std::int32_t>::max());
    for (IARComEvents* sink : sinks_)
        sink->OnReply(shortId, *reply);
    return hr::ok;
}

HRESULT ARCom::InitRequest(std::int32_t functionNo, IPackerDisp* packer) {
    if (packer == nullptr)
        return hr::nullPointer;
    IPackerControl* control = nullptr;
    const HRESULT status =
        packer->QueryInterface(IPackerControl::iid, reinterpret_cast<void**>(&control));
    if (hr::failed(status))
        return status;
    control->Reset(functionNo);
    control->Release();
    return hr::ok;
}

HRESULT ARCom::attachSink(IUnknown* sink) {
    if (sink == nullptr)
        return hr::nullPointer;
    IARComEvents* events = nullptr;
    const HRESULT status =
        sink->QueryInterface(IARComEvents::iid, reinterpret_cast<void**>(&events));
    if (hr::failed(status))
        return status;
    sinks_.push_back(events);
    return hr::ok;
}

HRESULT ARCom::DetachSink(IUnknown* sink) {
    if (sink == nullptr)
        return hr::nullPointer;
    IARComEvents* events = nullptr;
    if (hr::failed(sink->QueryInterface(IARComEvents::iid, reinterpret_cast<void**>(&events))))
        return hr::ok; // never attached: it cannot be a sink of ours
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (*it == events) {
            (*it)->Release();
            sinks_.erase(it);
            break;
        }
    }
    events->Release();
    return hr::ok;
}

std::size_t ARCom::sinkCount() const {
    return sinks_.size();
}

std::uint64_t ARCom::droppedReplies() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void ARCom::deliver(std::int64_t packetId, std::string reply) {
    std::lock_guard lock(mutex_);
    const auto it = pending_.find(packetId);
    if (it == pending_.end() || it->second.reply) {
        ++dropped_;
        return;
    }
    it->second.reply = std::move(reply);
    ++deliveries_;
    arrived_.notify_all();
}

void ARCom::broken(HRESULT status) {
    std::lock_guard lock(mutex_);
    for (auto& [id, pending] : pending_) {
        if (!pending.reply)
            pending.failure = hr::failed(status) ? status : hr::transportBroken;
    }
    arrived_.notify_all();
}

HRESULT ARCom::failed(HRESULT status, const std::string& description) {
    ++failures_;
    lastFailure_ = description;
    return failWith(status, description);
}

void ARCom::setWaitPump(WaitPump pump, std::chrono::milliseconds every) {
    pump_ = std::move(pump);
    pumpEvery_ = every;
}

} // namespace counter
