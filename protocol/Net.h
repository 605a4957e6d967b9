#pragma once
// The frames' stream over TCP, in clear or inside TLS: one type for the server's and the
// counter's connections, on Boost.Asio with OpenSSL.

#include <utility> // before Asio: its headers use std::exchange without including it

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>

#include <string>
#include <variant>

namespace protocol::net {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using TlsStream = asio::ssl::stream<tcp::socket>;

class Stream {
public:
    explicit Stream(tcp::socket socket) : stream_(std::move(socket)) {}
    Stream(tcp::socket socket, asio::ssl::context& tls)
        : stream_(std::in_place_type<TlsStream>, std::move(socket), tls) {}

    // Null for a stream in clear.
    TlsStream* tls() { return std::get_if<TlsStream>(&stream_); }
    tcp::socket& socket() {
        if (TlsStream* s = tls())
            return s->next_layer();
        return std::get<tcp::socket>(stream_);
    }

    template <class Buffers, class Handler> void asyncReadSome(const Buffers& b, Handler&& h) {
        std::visit([&](auto& s) { s.async_read_some(b, std::forward<Handler>(h)); }, stream_);
    }
    template <class Buffers, class Handler> void asyncWrite(const Buffers& b, Handler&& h) {
        std::visit([&](auto& s) { asio::async_write(s, b, std::forward<Handler>(h)); }, stream_);
    }

private:
    std::variant<tcp::socket, TlsStream> stream_;
};

// Whether a host name or address stays on this machine.
bool isLoopback(const std::string& host);

// What a counter checks before it trusts a back office, and what the back office's status
// shows: "SHA256:" and the base64 (no padding) of the SHA-256 of the certificate's DER bytes.
std::string fingerprintOfDer(const std::string& der);

} // namespace protocol::net
