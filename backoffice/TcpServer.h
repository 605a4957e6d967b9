#pragma once
// The back office as a TCP server many counters share. Frames are length-prefixed with a
// size cap; a bad frame closes that connection only, and a client that stalls in the
// middle of a frame is dropped after a time-out.

#include "protocol/Frame.h"
#include "protocol/Service.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace backoffice {

class TcpServer {
public:
    struct Options {
        std::string host = "127.0.0.1";
        std::uint16_t port = 0; // 0: any free port
        std::chrono::milliseconds stallTimeout{5000};
    };

    // Binds and listens, or throws std::runtime_error.
    TcpServer(protocol::PacketService& service, Options options);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // Serves until stop().
    void run();
    // From any thread, or a signal handler.
    void stop();

    std::size_t connections() const { return connections_.load(); }
    // Connections closed for a bad frame or a stall.
    std::uint64_t dropped() const { return dropped_.load(); }

private:
    struct Connection {
        protocol::FrameReader reader;
        std::string out;
        std::chrono::steady_clock::time_point lastProgress;
    };

    void accept();
    // False when the connection is to be closed.
    bool readFrom(int fd, Connection& c);
    bool writeTo(int fd, Connection& c);
    void close(int fd);

    protocol::PacketService& service_;
    Options options_;
    int listen_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::map<int, Connection> open_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> connections_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

} // namespace backoffice
