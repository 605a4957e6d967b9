#pragma once
// A counter on a plain blocking socket, for tests that play clients well-behaved or not:
// every wait is bounded, so a test cannot hang on a server that does not answer.

#include "BackOfficeFixture.h"

#include "protocol/Frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>

class WireClient {
public:
    // From `source`, another loopback address where a test plays several machines.
    explicit WireClient(std::uint16_t port,
                        std::chrono::milliseconds wait = std::chrono::seconds(10),
                        const char* source = nullptr)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (source) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &local.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        const int yes = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        setWait(wait);
    }
    ~WireClient() { ::close(fd_); }
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    void setWait(std::chrono::milliseconds wait) {
        timeval tv{static_cast<time_t>(wait.count() / 1000),
                   static_cast<suseconds_t>((wait.count() % 1000) * 1000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }

    bool sendAll(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool sendPacket(const std::string& packet) {
        return sendAll(protocol::encodeFrame(++id_, packet));
    }

    // The next reply, or nothing when the wait runs out or the server closes.
    std::optional<Reply> receive() {
        char buffer[65536];
        for (;;) {
            if (auto frame = reader_.next())
                return Reply(std::move(frame->packet));
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return std::nullopt;
            reader_.feed(buffer, static_cast<std::size_t>(n));
        }
    }
    std::optional<Reply> call(const std::string& packet) {
        if (!sendPacket(packet))
            return std::nullopt;
        return receive();
    }
    // True when the server closed the connection within the client's wait.
    bool closedByServer() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno == ECONNRESET))
                return true;
            if (n < 0)
                return false;
        }
    }

private:
    int fd_;
    bool connected_ = false;
    std::int64_t id_ = 0;
    protocol::FrameReader reader_;
};
