#include "protocol/Net.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl/error.hpp>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <new>

namespace protocol::net {

namespace detail {

Next next(State& s, int result, boost::system::error_code& ec) {
    switch (SSL_get_error(s.ssl.get(), result)) {
    case SSL_ERROR_WANT_READ:
        return Next::read;
    case SSL_ERROR_ZERO_RETURN:
        ec = asio::error::eof;
        return Next::failed;
    default:
        break;
    }
    const unsigned long error = ERR_get_error();
    ec = error ? boost::system::error_code(static_cast<int>(error), asio::error::get_ssl_category())
               : boost::system::error_code(asio::ssl::error::stream_truncated);
    return Next::failed;
}

bool takeOutput(State& s) {
    const std::size_t pending = BIO_ctrl_pending(s.toPeer);
    s.sending.resize(pending);
    if (pending > 0)
        BIO_read(s.toPeer, s.sending.data(), static_cast<int>(pending));
    return pending > 0;
}

void give(State& s, std::size_t n) {
    BIO_write(s.fromPeer, s.received.data(), static_cast<int>(n));
}

} // namespace detail

Stream::Stream(tcp::socket socket) : state_(std::make_shared<detail::State>(std::move(socket))) {}

Stream::Stream(tcp::socket socket, asio::ssl::context& tls) : Stream(std::move(socket)) {
    detail::State& s = *state_;
    s.ssl.reset(SSL_new(tls.native_handle()));
    s.fromPeer = BIO_new(BIO_s_mem());
    s.toPeer = BIO_new(BIO_s_mem());
    if (!s.ssl || !s.fromPeer || !s.toPeer) {
        BIO_free(s.fromPeer);
        BIO_free(s.toPeer);
        throw std::bad_alloc();
    }
    SSL_set_bio(s.ssl.get(), s.fromPeer, s.toPeer);
    // An idle connection keeps no record buffers.
    SSL_set_mode(s.ssl.get(), SSL_MODE_RELEASE_BUFFERS);
    s.received.resize(detail::largestRecord);
}

Stream::~Stream() {
    if (!state_)
        return;
    boost::system::error_code ignored;
    state_->socket.close(ignored);
}

bool isLoopback(const std::string& host) {
    if (host == "localhost")
        return true;
    boost::system::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    return !ec && address.is_loopback();
}

std::string fingerprintOfDer(const std::string& der) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest);
    unsigned char text[4 * ((SHA256_DIGEST_LENGTH + 2) / 3) + 1];
    const int length = EVP_EncodeBlock(text, digest, SHA256_DIGEST_LENGTH);
    std::string base64(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
    while (!base64.empty() && base64.back() == '=')
        base64.pop_back();
    return "SHA256:" + base64;
}

} // namespace protocol::net
