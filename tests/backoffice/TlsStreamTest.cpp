// The frames' stream inside TLS, end to end over loopback: what one side writes, the other
// reads whole, large or small, sent at once after the handshake or later; the server's
// handshake runs where it is told to; and a stream that goes with a read in flight ends that
// read with an error.

#include "Certificate.h"
#include "TemporaryDir.h"

#include "protocol/Net.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <optional>
#include <set>
#include <thread>

namespace net = protocol::net;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

class TlsStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        backoffice::makeSelfSignedCertificate(dir.filePath("server.pem"),
                                              dir.filePath("server.key"), {});
        serverTls.use_certificate_chain_file(dir.filePath("server.pem"));
        serverTls.use_private_key_file(dir.filePath("server.key"), asio::ssl::context::pem);
        clientTls.set_verify_mode(asio::ssl::verify_peer);
        clientTls.load_verify_file(dir.filePath("server.pem"));
        tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
        tcp::socket client(io);
        client.connect(acceptor.local_endpoint());
        server.emplace(acceptor.accept(), serverTls);
        this->client.emplace(std::move(client), clientTls);
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(this->client->tls()), "127.0.0.1");
    }

    // Both handshakes, the server's steps run through `serverSteps`.
    template <class Run> void shakeHands(Run serverSteps) {
        std::optional<boost::system::error_code> serverDone;
        std::optional<boost::system::error_code> clientDone;
        server->asyncHandshake(true, serverSteps, [&](const boost::system::error_code& ec) {
            asio::post(io, [&, ec] { serverDone = ec; });
        });
        client->asyncHandshake(
            false, [this](auto step) { asio::post(io, std::move(step)); },
            [&](const boost::system::error_code& ec) { clientDone = ec; });
        runUntil([&] { return serverDone && clientDone; });
        ASSERT_TRUE(serverDone && clientDone) << "the handshake did not end";
        ASSERT_FALSE(*serverDone) << serverDone->message();
        ASSERT_FALSE(*clientDone) << clientDone->message();
    }

    template <class Done> void runUntil(Done done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < until) {
            io.restart();
            io.run_for(std::chrono::milliseconds(10));
        }
    }

    // Reads until `size` bytes have come, or the stream fails.
    std::string readAll(net::Stream& from, std::size_t size) {
        std::string got;
        boost::system::error_code failed;
        std::vector<char> buffer(5000); // smaller than a record: one record takes several reads
        std::function<void()> readOn = [&] {
            from.asyncReadSome(asio::buffer(buffer),
                               [&](const boost::system::error_code& ec, std::size_t n) {
                                   failed = ec;
                                   got.append(buffer.data(), n);
                                   if (!ec && got.size() < size)
                                       readOn();
                               });
        };
        readOn();
        runUntil([&] { return failed || got.size() >= size; });
        EXPECT_FALSE(failed) << failed.message();
        return got;
    }

    // What `from` writes, as `to` reads it; the write and the reads go on together.
    std::string pass(net::Stream& from, net::Stream& to, const std::string& bytes) {
        std::optional<std::size_t> written;
        from.asyncWrite(asio::buffer(bytes),
                        [&](const boost::system::error_code& ec, std::size_t n) {
                            EXPECT_FALSE(ec) << ec.message();
                            written = n;
                        });
        std::string got = readAll(to, bytes.size());
        runUntil([&] { return written.has_value(); });
        EXPECT_EQ(written, bytes.size());
        return got;
    }

    static std::string pattern(std::size_t size, char seed) {
        std::string s(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            s[i] = static_cast<char>(seed + i * 7 % 251);
        return s;
    }

    TemporaryDir dir;
    asio::io_context io{1};
    asio::ssl::context serverTls{asio::ssl::context::tls_server};
    asio::ssl::context clientTls{asio::ssl::context::tls_client};
    std::optional<net::Stream> server;
    std::optional<net::Stream> client;
};

TEST_F(TlsStreamTest, WhatOneSideWritesTheOtherReadsWholeLargeOrSmall) {
    std::thread::id strangers;
    std::set<std::thread::id> stepsRanOn;
    asio::io_context strangersIo{1};
    auto guard = asio::make_work_guard(strangersIo);
    std::thread strangersThread([&] { strangersIo.run(); });
    strangers = strangersThread.get_id();
    shakeHands([&](auto step) {
        asio::post(strangersIo, [&, step = std::move(step)]() mutable {
            stepsRanOn.insert(std::this_thread::get_id());
            step();
        });
    });
    guard.reset();
    strangersThread.join();
    // Every step of the server's handshake ran on the thread it was given.
    EXPECT_EQ(stepsRanOn, std::set<std::thread::id>{strangers});

    // Written at once after the handshake, before the server reads: it waits for the read.
    std::optional<std::size_t> written;
    client->asyncWrite(asio::buffer("login", 5),
                       [&](const boost::system::error_code&, std::size_t n) { written = n; });
    runUntil([&] { return written.has_value(); });
    EXPECT_EQ(readAll(*server, 5), "login");
    // Larger than a record and than a piece the stream encrypts at a time, both ways.
    const std::string large = pattern(300 * 1024 + 17, 'a');
    EXPECT_EQ(pass(*client, *server, large), large);
    const std::string reply = pattern(200 * 1024 + 3, 'z');
    EXPECT_EQ(pass(*server, *client, reply), reply);
    // Small ones back and forth, as a counter and its server do.
    for (int i = 0; i < 50; ++i) {
        const std::string ask = "ask " + std::to_string(i);
        ASSERT_EQ(pass(*client, *server, ask), ask);
        const std::string answer = pattern(1125, static_cast<char>('0' + i % 10));
        ASSERT_EQ(pass(*server, *client, answer), answer);
    }
}

TEST_F(TlsStreamTest, AStreamThatGoesEndsItsReadWithAnErrorAndAClosedPeerEndsTheOther) {
    shakeHands([this](auto step) { asio::post(io, std::move(step)); });
    std::optional<boost::system::error_code> clientRead;
    std::vector<char> clientBuffer(100);
    client->asyncReadSome(asio::buffer(clientBuffer), [&](const boost::system::error_code& ec,
                                                          std::size_t) { clientRead = ec; });
    client.reset();
    runUntil([&] { return clientRead.has_value(); });
    ASSERT_TRUE(clientRead.has_value()) << "the read of a stream that went never ended";
    EXPECT_TRUE(*clientRead);
    // Its peer sees the connection end, not a hang.
    std::vector<char> buffer(100);
    std::optional<boost::system::error_code> serverRead;
    server->asyncReadSome(asio::buffer(buffer), [&](const boost::system::error_code& ec,
                                                    std::size_t) { serverRead = ec; });
    runUntil([&] { return serverRead.has_value(); });
    ASSERT_TRUE(serverRead.has_value());
    EXPECT_TRUE(*serverRead);
}

TEST_F(TlsStreamTest, AServerNotOfTheCertificateIsRefusedAndToldWhy) {
    // The client expects another address than the certificate's.
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(client->tls()), "127.0.0.2");
    std::optional<boost::system::error_code> serverDone;
    std::optional<boost::system::error_code> clientDone;
    const auto here = [this](auto step) { asio::post(io, std::move(step)); };
    server->asyncHandshake(true, here,
                           [&](const boost::system::error_code& ec) { serverDone = ec; });
    client->asyncHandshake(false, here,
                           [&](const boost::system::error_code& ec) { clientDone = ec; });
    runUntil([&] { return serverDone && clientDone; });
    ASSERT_TRUE(serverDone && clientDone);
    EXPECT_TRUE(*clientDone);
    // The client's alert reached the server, which ends its handshake with it.
    EXPECT_TRUE(*serverDone);
    EXPECT_EQ(serverDone->category(), asio::error::get_ssl_category()) << serverDone->message();
}

} // namespace
