#pragma once
// The back office as a TCP server many counters share, on Boost.Asio. One thread does all
// the network work; the requests are handled by a small pool of workers (those of
// connections nobody has logged in on by a pool of their own), so a slow password hash or a
// long query never stalls the other counters. Each connection is a session of its own and
// has one request in hand at a time. Per connection: a bounded output (reading stops until
// the client reads), a deadline for a whole frame (and for the TLS handshake), an idle
// time-out and a cap on the number of connections. Running out of descriptors pauses
// accepting for a moment; it neither spins nor stops the server. Every request gets a
// reply, or its connection is closed: a handler that throws ends its connection, never
// the server.

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
        // A connection on which nobody has logged in is closed after this, and at most
        // maxStrangers such connections are kept, at most maxStrangersPerSource from one
        // address: strangers never fill the slots that logged-in counters need. When they
        // are all taken, a newcomer pushes out the oldest stranger of the address that has
        // the most, but never the one stranger of an address within loginGrace, and never
        // when its own address had a stranger pushed out within loginGrace; otherwise the
        // newcomer is refused. So a counter that logs in within loginGrace of connecting is
        // never pushed out, however many addresses strangers come from, and strangers that
        // only reconnect when closed cannot keep every slot young.
        std::chrono::milliseconds loginTimeout{std::chrono::seconds(15)};
        std::chrono::milliseconds loginGrace{std::chrono::seconds(5)};
        std::size_t maxStrangers = 64;
        std::size_t maxStrangersPerSource = 32;
        // Connections logged in (or logging in) as one operator: a counter needs one, and
        // one or two more while it reconnects. A login over this, or one that would leave
        // fewer than maxStrangers slots for new logins, is refused before its password is
        // tried, and its connection is closed once the refusal is sent.
        std::size_t maxLoginsPerOperator = 4;
        // The longest request frame taken; a longer one closes its connection before it is
        // read.
        std::size_t maxFrame = 256 * 1024;
        // A connection with a bad frame or a failed TLS handshake is read no more and
        // closed after this pause, so a client that loops back at once is slowed down.
        std::chrono::milliseconds rejectPause{1000};
        // Reply bytes a connection may have waiting before its reading stops. A counter
        // waits for each reply before it asks again, so only a client that does not read
        // ever comes near this.
        std::size_t maxOutput = 64 * 1024;
        // The socket's own buffers, fixed: left to grow, the kernel keeps megabytes per
        // connection, of replies nobody reads (before the output above fills) and of
        // requests sent ahead.
        int sendBuffer = 64 * 1024;
        int receiveBuffer = 64 * 1024;
        // A counter asks again only once it has its reply. A request that was already
        // waiting when the one before it was answered comes from a client that sends
        // without reading; such requests are paced to this many a second after a burst,
        // so a flood keeps neither the server nor a worker busy for nobody.
        double pipelinedPerSecond = 50;
        double pipelinedBurst = 20;
        std::size_t workers = 4;
        // Workers for the requests of connections nobody has logged in on.
        std::size_t strangerWorkers = 2;
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
    // From any thread: stops accepting and reading, refuses the requests still queued for a
    // worker, answers those in hand, and lets run() return once every connection is
    // answered and closed, or when `grace` has passed.
    void finish(std::chrono::milliseconds grace = std::chrono::seconds(5));

    // From any thread, when the configuration is read again: the time-outs and the bound of
    // strangers per address take `next`'s values, and with TLS the certificate and key are
    // read again for the connections that come next. A pair that cannot be used is a
    // std::runtime_error, and nothing changes.
    void reload(const Options& next);

    std::size_t connections() const;
    // Connections closed for a bad frame, a time-out, a client that does not read or a
    // failed handshake.
    std::uint64_t dropped() const;
    // Connections refused over the cap, or from a source with too many strangers.
    std::uint64_t refused() const;
    // Logins refused over the bound per operator or the bound of logged-in connections.
    std::uint64_t refusedLogins() const;
    // Requests whose handling failed with an exception; their connections were closed.
    std::uint64_t faults() const;
    // Accepts that failed (descriptors run out, for one).
    std::uint64_t acceptFailures() const;
    // The bytes the connections hold in their input and output buffers, now and at most.
    std::size_t heldBytes() const;
    std::size_t peakHeldBytes() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace backoffice
