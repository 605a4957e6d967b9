#pragma once
// The counter's connection to a back-office server: frames out on Send, a reader thread
// hands each reply frame to its packet. A dropped connection breaks the transport until
// the next request, which connects again first (and is refused when the server is still
// not there); nothing is ever sent again on its own.

#include "Transport.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace counter {

class TcpTransport final : public Transport {
public:
    // Connects now; throws std::runtime_error when the server cannot be reached.
    TcpTransport(const std::string& host, std::uint16_t port);
    ~TcpTransport() override;

    void connect(Callbacks callbacks) override;
    HRESULT submit(std::int64_t packetId, std::string request) override;

private:
    // Connects; throws std::runtime_error when the server cannot be reached.
    void open();
    // After a broken connection: the old one closed, a new one made; false when the server
    // cannot be reached.
    bool reopen();
    void readReplies();

    std::string host_;
    std::uint16_t port_;
    int fd_ = -1;
    std::atomic<bool> broken_{false};
    Callbacks callbacks_;
    std::mutex sending_;
    std::thread reader_;
};

// "tcp://HOST:PORT" split into its parts; false when it is not of that form.
bool parseTcpAddress(const std::string& address, std::string& host, std::uint16_t& port);

} // namespace counter
