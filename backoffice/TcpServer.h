#pragma once
// The back office as a TCP server many counters share, on Boost.Asio. One thread does all
// the network work; the requests are handled by a small pool of workers, so a slow
// password hash or a long query never stalls the other counters. Each connection is a
// session of its own and has one request in hand at a time. Per connection: a bounded
// output (reading stops until the client reads), a deadline for a whole frame (and for the
// TLS handshake), an idle time-out and a cap on the number of connections. Running out of
// descriptors pauses accepting for a moment; it neither spins nor stops the server.

#include "protocol/Service.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace backoffice {

class TcpServer {
public:
    struct Options {
        std::string host = "127.0.0.1";
        std::uint16_t port = 0; // 0: any free port
        // A frame (or the TLS handshake) begun must be whole within this; a reply must
        // make progress to a client that does not read within this.
        std::chrono::milliseconds frameTimeout{5000};
        // A connection with nothing begun and nothing in hand is closed after this.
        std::chrono::milliseconds idleTimeout{std::chrono::minutes(30)};
        std::size_t maxConnections = 256;
        // Reply bytes a connection may have waiting before its reading stops.
        std::size_t maxOutput = 1u << 20;
        std::size_t workers = 4;
        // Both set: TLS with this certificate chain and private key (PEM files). Neither:
        // clear TCP, which is allowed on a loopback address only.
        std::string certificateFile;
        std::string keyFile;
    };

    // Binds and listens, or throws std::runtime_error.
    TcpServer(protocol::PacketService& service, Options options);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    std::uint16_t port() const;
    // Serves until stop(), or until SIGINT or SIGTERM when stopOnSignals.
    void run(bool stopOnSignals = false);
    // From any thread.
    void stop();

    std::size_t connections() const;
    // Connections closed for a bad frame, a time-out, a client that does not read or a
    // failed handshake.
    std::uint64_t dropped() const;
    // Connections refused over the cap.
    std::uint64_t refused() const;
    // Accepts that failed (descriptors run out, for one).
    std::uint64_t acceptFailures() const;
    // The most bytes the connections held at once, in their input and output buffers.
    std::size_t peakHeldBytes() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace backoffice
