#pragma once
// The back office as a TCP server many counters share, on Boost.Asio. One thread does all
// the network work; the requests are handled by a small pool of workers, and those of
// connections nobody has logged in on one at a time by a thread of their own, so a
// slow password hash or a long query never stalls the other counters. Each connection is a
// session of its own and has one request in hand at a time. Per connection: a bounded output
// (reading stops until the client reads), a deadline for a whole frame (and for the TLS
// handshake), an idle time-out, a cap on the logged-in connections and a pool for those not
// yet logged in. Running out of descriptors pauses accepting for a moment; it neither spins
// nor stops the server. Every request gets a reply, or its connection is closed: a handler
// that throws ends its connection, never the server.

#include "StrangerPool.h"

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
        // Connections logged in, of all operators together.
        std::size_t maxConnections = 256;
        // A connection on which nobody has logged in (a stranger, its TLS handshake
        // included) is closed after this.
        std::chrono::milliseconds loginTimeout{std::chrono::seconds(15)};
        // Strangers share a pool of at most maxStrangers connections, fewer when the
        // descriptors the process may open do not allow so many beside maxConnections and
        // descriptorReserve (the database, its journal, the listener). Each address holds
        // at most maxStrangersPerSource of them.
        std::size_t maxStrangers = StrangerPool::Bounds{}.room;
        std::size_t descriptorReserve = 64;
        std::size_t maxStrangersPerSource = StrangerPool::Bounds{}.perSource;
        // Past earlyDropFrom of the strangers' share of the pool, a newcomer is refused at
        // random, with a chance that rises from earlyDropChance to certainty as the share
        // fills: whatever pattern strangers reconnect in, a counter that tries again gets
        // in.
        double earlyDropFrom = StrangerPool::Bounds{}.earlyDropFrom;
        double earlyDropChance = StrangerPool::Bounds{}.earlyDropChance;
        // An address where a login succeeded within knownFor (a room's own counter) has
        // knownRoom of the pool that strangers from other addresses cannot take, is never
        // refused at random, and holds up to maxStrangersPerKnownSource.
        std::chrono::seconds knownFor = StrangerPool::Bounds{}.knownFor;
        std::size_t knownRoom = StrangerPool::Bounds{}.knownRoom;
        std::size_t maxStrangersPerKnownSource = StrangerPool::Bounds{}.perKnownSource;
        // Connections logged in (or logging in) as one operator: a counter needs one, and
        // one or two more while it reconnects. A login over this, or over maxConnections, is
        // refused before its password is tried, and its connection is closed once the
        // refusal is sent.
        std::size_t maxLoginsPerOperator = 4;
        // The longest request frame taken; a longer one closes its connection before it is
        // read.
        std::size_t maxFrame = 256 * 1024;
        // The longest frame of a connection nobody has logged in on: a login, with a
        // password of the longest field, is well under it, and a stranger holds little.
        std::size_t maxStrangerFrame = 32 * 1024;
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
        // Workers for the requests of logged-in connections.
        std::size_t workers = 4;
        // The requests of connections nobody has logged in on (logins, with their slow
        // password hash) are done one at a time, on one thread of their own. At
        // most strangerQueue wait, from addresses not known for a login and from known
        // ones each; one more is refused as busy at once, and one from an unknown address
        // that waited over strangerWait is refused when its turn comes.
        std::size_t strangerQueue = 8;
        std::chrono::milliseconds strangerWait{1000};
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
    // New connections refused: the strangers' pool or their address's share full, or
    // refused at random as the pool fills.
    std::uint64_t refused() const;
    // The strangers' pool, as the descriptors allow.
    std::size_t strangerRoom() const;
    // Logins refused over the bound per operator or the bound of logged-in connections.
    std::uint64_t refusedLogins() const;
    // Requests whose handling failed with an exception; their connections were closed.
    std::uint64_t faults() const;
    // Requests of connections nobody has logged in on: done, refused as busy (the queue
    // full, or waited too long), and the most that waited at once.
    std::uint64_t strangerRequestsDone() const;
    std::uint64_t strangerRequestsRefused() const;
    std::size_t peakStrangerQueue() const;
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
