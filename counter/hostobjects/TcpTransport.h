#pragma once
// The counter's connection to a back-office server, in clear (loopback only) or over TLS
// with the server checked against a given certificate. Send queues a frame; one network
// thread writes the frames and hands each reply frame to its packet. A dropped connection
// breaks the transport until the next request, which connects again first (and is refused
// when the server is still not there); nothing is ever sent again on its own. The session
// belongs to the connection, so a new connection first logs in again with the login that
// last succeeded.
//
// A connection nobody is logged in on is held only while a request is on it, and a second
// after: the one made at start-up to see that the server is there carries a login that
// follows at once, and is closed otherwise (the login typed later connects anew), so the
// server's login deadline and its room for strangers are spent on nothing but the login. A reply
// with a packet id no request awaits is thrown away (the callbacks' `dropped` is told); bytes that
// are not a packet break the link.

#include "Transport.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace protocol {
struct Frame;
}

namespace counter {

struct BackOfficeAddress {
    std::string host;
    std::uint16_t port = 0;
    bool tls = false;
    // For TLS: the PEM certificate (or its issuer's) the server must present.
    std::string caFile;
    // Resolving, connecting and the TLS handshake together must be done within this.
    std::chrono::milliseconds connectTimeout{std::chrono::seconds(5)};
};

// The back office's host name does not resolve on this machine.
struct UnknownHostError : std::runtime_error {
    UnknownHostError(const std::string& what, std::string host)
        : std::runtime_error(what), host(std::move(host)) {}
    std::string host;
};

class TcpTransport final : public Transport {
public:
    // Connects now; throws std::runtime_error when the server cannot be reached or does not
    // answer within the address's connect time-out, when clear TCP is asked for beyond this
    // machine, or when the server is not the one of the certificate; UnknownHostError when
    // the host name does not resolve. While a connection is
    // being made (here, and again on a request after the link broke) `waitPump` runs every
    // 15 ms, so the waiting counter's windows paint.
    explicit TcpTransport(BackOfficeAddress address, std::function<void()> waitPump = {});
    TcpTransport(const std::string& host, std::uint16_t port)
        : TcpTransport(BackOfficeAddress{host, port, false, {}}) {}
    ~TcpTransport() override;

    void connect(Callbacks callbacks) override;
    HRESULT submit(std::int64_t packetId, std::string request) override;
    void abandoned(std::int64_t packetId, HRESULT status) override;

private:
    struct Link;
    struct Opening;
    // The one place a connection is made: resolve, connect and, for TLS, verify the server,
    // on the link's network loop and within the connect time-out. `done` is given nothing,
    // or why the connection could not be made.
    void open(std::function<void(std::string error)> done);
    // The network loop run on this thread, the wait pump between, until `finished`.
    void waitFor(const std::function<bool()>& finished);
    // On the network thread, when there is no connection: a new one made, the login
    // replayed ahead of anything else; `done` is told whether the server could be reached
    // (at once when the connection is there).
    void reopen(std::function<void(bool)> done);
    // On the network thread: the request written, and its reply awaited.
    void queue(std::int64_t packetId, std::string request);
    // Takes one reply frame: false when it is no packet at all.
    bool take(protocol::Frame& frame);
    template <class Failed>
    void handshake(const std::shared_ptr<Opening>& o, const std::string& where, Failed failed);
    void readReplies();
    void writeNext();
    void fail();
    // Whether the connection is there with nobody logged in on it and nothing awaited.
    bool idle() const;
    // Closes the connection in a moment if it is idle then; the next request connects
    // again.
    void restSoon();

    BackOfficeAddress address_;
    std::function<void()> waitPump_;
    std::unique_ptr<Link> link_;
    Callbacks callbacks_;
    // Touched on the network thread only.
    std::deque<std::string> out_;
    bool writing_ = false;
    // The packets whose replies are awaited, the replayed logins in flight, and whether a
    // login was accepted on this connection.
    std::unordered_set<std::int64_t> awaited_;
    int replays_ = 0;
    bool loggedIn_ = false;
    // Told when the connection being made is there, or cannot be.
    std::vector<std::function<void(bool)>> reopening_;
    // Each connection's handlers carry its number, so one of an old connection does nothing.
    std::uint64_t connection_ = 0;
    // The login request in flight, and the last one the server accepted.
    std::int64_t loginPacket_ = 0;
    std::string pendingLogin_;
    std::string login_;
    // The reply that refused the replayed login on this connection; empty once one is
    // accepted.
    std::string loginRefusal_;
    // No connection: it broke, or it was closed since nobody was logged in on it.
    std::atomic<bool> broken_{false};
    std::thread thread_;
};

// "tcp://HOST:PORT" or "tls://HOST:PORT" split into its parts; false when it is neither.
bool parseBackOfficeAddress(const std::string& text, BackOfficeAddress& address);

} // namespace counter
