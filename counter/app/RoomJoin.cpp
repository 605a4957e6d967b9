#include "RoomJoin.h"

#include "protocol/Net.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/steady_timer.hpp>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace counter {

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

std::string derOf(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert, &der);
    if (length <= 0)
        throw JoinError("服务器的证书无法读取");
    std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return bytes;
}

std::string pemOf(X509* cert) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    if (!out || PEM_write_bio_X509(out.get(), cert) != 1)
        throw JoinError("服务器的证书无法读取");
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

// Written under another name and renamed, so a reader never sees half of it.
void writeWhole(const std::filesystem::path& path, const std::string& text) {
    const std::filesystem::path part = path.string() + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            throw JoinError("无法写入" + part.string());
    }
    std::filesystem::rename(part, path);
}

} // namespace

ServerCertificate fetchServerCertificate(const std::string& host, std::uint16_t port,
                                         std::chrono::milliseconds timeout) {
    asio::io_context io;
    // Nothing is trusted here: the certificate is held to the fingerprint afterwards.
    asio::ssl::context tls(asio::ssl::context::tls_client);
    tls.set_verify_mode(asio::ssl::verify_none);
    protocol::net::TlsStream stream(io, tls);
    tcp::resolver resolver(io);
    asio::steady_timer deadline(io);
    std::string failure;
    bool done = false;
    const auto fail = [&](const std::string& step, const boost::system::error_code& ec) {
        if (done)
            return;
        done = true;
        failure = step + ": " + ec.message();
        deadline.cancel();
    };
    deadline.expires_after(timeout);
    deadline.async_wait([&](const boost::system::error_code& ec) {
        if (ec || done)
            return;
        done = true;
        failure = "no answer within " + std::to_string(timeout.count()) + " ms";
        boost::system::error_code ignored;
        stream.next_layer().close(ignored);
        resolver.cancel();
    });
    ::SSL_set_tlsext_host_name(stream.native_handle(), host.c_str());
    resolver.async_resolve(host, std::to_string(port), [&](const auto& ec, const auto& results) {
        if (ec)
            return fail("resolving " + host, ec);
        asio::async_connect(stream.next_layer(), results, [&](const auto& e, const auto&) {
            if (e)
                return fail("connecting", e);
            stream.async_handshake(asio::ssl::stream_base::client, [&](const auto& h) {
                if (h)
                    return fail("TLS handshake", h);
                done = true;
                deadline.cancel();
            });
        });
    });
    io.run();
    if (!failure.empty())
        throw JoinError("无法从" + host + ":" + std::to_string(port) + "取得服务器的证书（" +
                        failure + "）");
    const std::unique_ptr<X509, decltype(&X509_free)> cert(
        ::SSL_get1_peer_certificate(stream.native_handle()), X509_free);
    if (!cert)
        throw JoinError("服务器没有出示证书");
    return {pemOf(cert.get()), protocol::net::fingerprintOfDer(derOf(cert.get()))};
}

bool sameFingerprint(const std::string& given, const std::string& fingerprint) {
    return given == fingerprint || "SHA256:" + given == fingerprint;
}

std::string defaultConfigBase() {
    if (::geteuid() == 0)
        return MARLO_CONF_DIR;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg)
        return std::string(xdg) + "/marlo";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.config/marlo";
}

std::string writeRoomConfig(const std::string& base, const std::string& address,
                            const std::string& pem) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(base) / "counter.conf.d";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        throw JoinError("无法建立" + folder.string() + "：" + ec.message());
    // The certificate first: the .conf names it.
    writeWhole(folder / "room.pem", pem);
    const fs::path conf = folder / "room.conf";
    writeWhole(conf, "# Written by marlo-counter --join; a later join replaces it.\n"
                     "backoffice = " +
                         address + "\nca = room.pem\n");
    return conf.string();
}

} // namespace counter
