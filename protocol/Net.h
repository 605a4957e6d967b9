#pragma once
// The frames' stream over TCP, in clear or inside TLS: one type for the server's and the
// counter's connections, on Boost.Asio with OpenSSL.

#include <utility> // before Asio: its headers use std::exchange without including it

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace protocol::net {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
// For a one-off look at a server's certificate.
using TlsStream = asio::ssl::stream<tcp::socket>;

namespace detail {

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// A connection's socket and TLS state. The steps of an operation in flight hold it, so a step
// that runs after its stream is gone still finds it whole.
struct State {
    explicit State(tcp::socket s) : socket(std::move(s)) {}
    tcp::socket socket;
    std::unique_ptr<SSL, SslFree> ssl; // null in clear
    BIO* fromPeer = nullptr;           // the ciphertext received, owned by ssl
    BIO* toPeer = nullptr;             // the ciphertext to send, owned by ssl
    std::vector<char> received;        // what one read of the socket brought
    std::string sending;               // ciphertext being written to the socket
};

// What is left to do after an OpenSSL call returned `result`.
enum class Next { done, read, failed };
Next next(State& s, int result, boost::system::error_code& ec);
// Moves what OpenSSL has written for the peer into `sending`, in place of what was there;
// false if it wrote nothing.
bool takeOutput(State& s);
// Hands what the socket brought to OpenSSL.
void give(State& s, std::size_t n);

// What one read of the socket takes: a whole record of the largest size TLS allows. A
// connection keeps no more than this for what it sends, either.
constexpr std::size_t largestRecord = 17 * 1024;

// A frame is encrypted and written in pieces of this size at most, so what waits for the
// socket stays small whatever the frame's size.
constexpr std::size_t writePiece = 64 * 1024;

template <class Handler>
void decrypt(const std::shared_ptr<State>& s, asio::mutable_buffer b, Handler h, bool initiating);

template <class Handler> void receive(std::shared_ptr<State> s, asio::mutable_buffer b, Handler h) {
    State& state = *s;
    state.socket.async_read_some(asio::buffer(state.received),
                                 [s = std::move(s), b, h = std::move(h)](
                                     const boost::system::error_code& ec, std::size_t n) mutable {
                                     if (ec)
                                         return h(ec, std::size_t{0});
                                     give(*s, n);
                                     decrypt(s, b, std::move(h), false);
                                 });
}

template <class Handler>
void decrypt(const std::shared_ptr<State>& s, asio::mutable_buffer b, Handler h, bool initiating) {
    std::size_t n = 0;
    boost::system::error_code ec;
    ERR_clear_error();
    const int result = SSL_read_ex(s->ssl.get(), b.data(), b.size(), &n);
    if (result != 1 && next(*s, result, ec) == Next::read)
        return receive(s, b, std::move(h));
    if (initiating) // the handler never runs inside the call that starts the read
        return asio::post(s->socket.get_executor(),
                          [h = std::move(h), ec, n]() mutable { h(ec, n); });
    h(ec, n);
}

template <class Handler>
void encrypt(std::shared_ptr<State> s, asio::const_buffer b, std::size_t done, Handler h) {
    const std::size_t piece = std::min(b.size() - done, writePiece);
    std::size_t n = 0;
    boost::system::error_code ec;
    ERR_clear_error();
    const int result =
        SSL_write_ex(s->ssl.get(), static_cast<const char*>(b.data()) + done, piece, &n);
    if (result != 1) {
        next(*s, result, ec);
        return asio::post(s->socket.get_executor(),
                          [h = std::move(h), ec, done]() mutable { h(ec, done); });
    }
    takeOutput(*s);
    State& state = *s;
    asio::async_write(state.socket, asio::buffer(state.sending),
                      [s = std::move(s), b, done = done + n,
                       h = std::move(h)](const boost::system::error_code& ec, std::size_t) mutable {
                          if (ec || done == b.size()) {
                              // A large frame's ciphertext is not kept for a small one's.
                              if (s->sending.capacity() > largestRecord)
                                  std::string().swap(s->sending);
                              return h(ec, done);
                          }
                          encrypt(std::move(s), b, done, std::move(h));
                      });
}

template <class Run, class Handler>
void handshakeStep(std::shared_ptr<State> s, Run run, Handler h);

// After a handshake step: what it wrote goes to the peer, then the handshake goes on as `then`.
template <class Run, class Handler>
void handshakeGoOn(std::shared_ptr<State> s, Run run, Handler h, Next then,
                   boost::system::error_code ec) {
    if (then == Next::done || then == Next::failed)
        return h(ec);
    State& state = *s;
    state.socket.async_read_some(asio::buffer(state.received),
                                 [s = std::move(s), run, h = std::move(h)](
                                     const boost::system::error_code& ec, std::size_t n) mutable {
                                     if (ec)
                                         return run([h = std::move(h), ec]() mutable { h(ec); });
                                     give(*s, n);
                                     run([s = std::move(s), run, h = std::move(h)]() mutable {
                                         handshakeStep(std::move(s), run, std::move(h));
                                     });
                                 });
}

template <class Run, class Handler>
void handshakeStep(std::shared_ptr<State> s, Run run, Handler h) {
    boost::system::error_code ec;
    ERR_clear_error();
    const int result = SSL_do_handshake(s->ssl.get());
    const Next then = result == 1 ? Next::done : next(*s, result, ec);
    // A failed handshake's alert is sent too: the peer learns why.
    if (!takeOutput(*s))
        return handshakeGoOn(std::move(s), run, std::move(h), then, ec);
    State& state = *s;
    asio::async_write(state.socket, asio::buffer(state.sending),
                      [s = std::move(s), run, h = std::move(h), then,
                       ec](const boost::system::error_code& sent, std::size_t) mutable {
                          run([s = std::move(s), run, h = std::move(h), then, ec, sent]() mutable {
                              if (sent && then != Next::failed)
                                  return h(sent);
                              handshakeGoOn(std::move(s), run, std::move(h), then, ec);
                          });
                      });
}

} // namespace detail

// TLS runs on memory buffers between OpenSSL and the socket: reads and writes of the socket
// are Asio's own, and a record costs one call into OpenSSL each way.
class Stream {
public:
    explicit Stream(tcp::socket socket);
    Stream(tcp::socket socket, asio::ssl::context& tls);
    Stream(Stream&&) noexcept = default;
    Stream& operator=(Stream&&) = delete;
    // Closes the socket: the steps still in flight end with an error.
    ~Stream();

    // Null for a stream in clear.
    SSL* tls() const { return state_->ssl.get(); }
    tcp::socket& socket() { return state_->socket; }

    // The TLS handshake. Each of its steps, and the handler, run through `run`, which takes a
    // callable and runs it: on a thread of the caller's choosing.
    template <class Run, class Handler> void asyncHandshake(bool server, Run run, Handler h) {
        SSL* ssl = state_->ssl.get();
        server ? SSL_set_accept_state(ssl) : SSL_set_connect_state(ssl);
        run([s = state_, run, h = std::move(h)]() mutable {
            detail::handshakeStep(std::move(s), run, std::move(h));
        });
    }

    template <class Handler> void asyncReadSome(asio::mutable_buffer b, Handler h) {
        if (!state_->ssl)
            return state_->socket.async_read_some(b, std::move(h));
        // Nothing held in OpenSSL: to the socket at once, without a call that could only
        // ask for more.
        if (BIO_ctrl_pending(state_->fromPeer) == 0 && SSL_has_pending(state_->ssl.get()) == 0)
            return detail::receive(state_, b, std::move(h));
        detail::decrypt(state_, b, std::move(h), true);
    }

    // Writes all of `b`; one write at a time.
    template <class Handler> void asyncWrite(asio::const_buffer b, Handler h) {
        if (!state_->ssl)
            return asio::async_write(state_->socket, b, std::move(h));
        if (b.size() == 0)
            return asio::post(state_->socket.get_executor(), [h = std::move(h)]() mutable {
                h(boost::system::error_code(), std::size_t{0});
            });
        detail::encrypt(state_, b, 0, std::move(h));
    }

private:
    std::shared_ptr<detail::State> state_;
};

// Whether a host name or address stays on this machine.
bool isLoopback(const std::string& host);

// What a counter checks before it trusts a back office, and what the back office's status
// shows: "SHA256:" and the base64 (no padding) of the SHA-256 of the certificate's DER bytes.
std::string fingerprintOfDer(const std::string& der);

} // namespace protocol::net
