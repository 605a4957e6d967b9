#include "TcpTransport.h"

#include "protocol/Frame.h"
#include "protocol/Net.h"
#include "protocol/Numbers.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <openssl/x509v3.h>

#include <optional>
#include <stdexcept>
#include <vector>

namespace counter {

namespace asio = boost::asio;
namespace net = protocol::net;
using net::tcp;

namespace {

constexpr std::int32_t loginFunction = protocol::function::login;
// How a failure to resolve the server's name begins, so that it is told as such.
const std::string unknownHost = "unknown host ";
// The communication object numbers its packets from 1; the replayed login's reply is the
// transport's own.
constexpr std::int64_t replayedLogin = -1;

std::int32_t functionOf(const std::string& packet) {
    protocol::PacketView view;
    return view.decode(packet) == protocol::DecodeStatus::Ok ? view.functionNo() : 0;
}

// How long a connection nobody is logged in on is kept once nothing is awaited on it: a
// login that follows at once goes on it, well within the server's grace for a new
// connection; one typed later connects anew.
constexpr auto restAfter = std::chrono::seconds(1);

// The back office's answer to a request on a connection where nobody is logged in.
constexpr std::int32_t notLoggedIn = protocol::errors::notLoggedIn;

// A request refused for want of a login on a connection whose replayed login was refused
// is answered with why that login was refused.
std::string refusedForLogin(const std::string& reply, const std::string& loginRefusal) {
    protocol::PacketView request;
    protocol::PacketView refusal;
    if (request.decode(reply) != protocol::DecodeStatus::Ok ||
        refusal.decode(loginRefusal) != protocol::DecodeStatus::Ok)
        return reply;
    const auto errorNo = refusal.indexOf("error_no");
    const auto errorInfo = refusal.indexOf("error_info");
    if (errorNo < 0 || errorInfo < 0 || refusal.recordCount() == 0)
        return reply;
    const auto code = refusal.integer(0, static_cast<std::size_t>(errorNo));
    protocol::PacketWriter w(request.functionNo(), static_cast<std::int32_t>(code));
    w.addField("error_no", protocol::FieldType::Integer);
    w.addField("error_svrno", protocol::FieldType::Integer);
    w.addField("error_info", protocol::FieldType::Text);
    w.beginRecord();
    w.integer(code);
    w.integer(1);
    w.text("重新登录未成功：" + std::string(refusal.text(0, static_cast<std::size_t>(errorInfo))));
    std::string out;
    return w.finish(out) ? out : reply;
}

} // namespace

struct TcpTransport::Link {
    asio::io_context io{1};
    std::optional<asio::ssl::context> tls;
    std::optional<net::Stream> stream;
    protocol::FrameReader reader;
    std::vector<char> in = std::vector<char>(65536);
    asio::steady_timer restTimer{io};
};

TcpTransport::TcpTransport(BackOfficeAddress address, std::function<void()> waitPump)
    : address_(std::move(address)), waitPump_(std::move(waitPump)),
      link_(std::make_unique<Link>()) {
    if (!address_.tls && !net::isLoopback(address_.host))
        throw std::runtime_error("clear TCP to the back office is for this machine only; use "
                                 "tls://" +
                                 address_.host + ":" + std::to_string(address_.port) +
                                 " with --ca");
    // The network thread starts later: the loop runs here until the connection is made.
    std::optional<std::string> result;
    open([&](std::string error) { result = std::move(error); });
    waitFor([&] { return result.has_value(); });
    link_->io.restart();
    if (result->rfind(unknownHost, 0) == 0)
        throw UnknownHostError(*result, address_.host);
    if (!result->empty())
        throw std::runtime_error(*result);
}

TcpTransport::~TcpTransport() {
    link_->io.stop();
    if (thread_.joinable())
        thread_.join();
}

void TcpTransport::waitFor(const std::function<bool()>& finished) {
    const bool networkHere = !thread_.joinable();
    while (!finished()) {
        if (networkHere)
            link_->io.run_one_for(std::chrono::milliseconds(15));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (waitPump_ && !finished())
            waitPump_();
    }
}

// What one attempt to connect holds until it is done: the deadline and the steps' state.
struct TcpTransport::Opening {
    explicit Opening(asio::io_context& io) : resolver(io), socket(io), deadline(io) {}
    tcp::resolver resolver;
    tcp::socket socket;
    asio::steady_timer deadline;
    std::function<void(std::string)> done;
    bool timedOut = false;
    std::string step = "resolving";
    void finish(const std::string& error) {
        if (!done)
            return;
        deadline.cancel();
        auto d = std::move(done);
        done = nullptr;
        d(error);
    }
};

template <class Failed>
void TcpTransport::handshake(const std::shared_ptr<Opening>& o, const std::string& where,
                             Failed failed) {
    o->step = "TLS handshake";
    auto& tls = link_->tls;
    if (!tls) {
        tls.emplace(asio::ssl::context::tls_client);
        tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                         asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                         asio::ssl::context::no_tlsv1_1);
        tls->set_verify_mode(asio::ssl::verify_peer);
        boost::system::error_code ec;
        tls->load_verify_file(address_.caFile, ec);
        if (ec) {
            tls.reset();
            return o->finish("cannot read the certificate " + address_.caFile + ": " +
                             ec.message());
        }
    }
    net::Stream& stream = link_->stream.emplace(std::move(o->socket), *tls);
    SSL* ssl = stream.tls();
    boost::system::error_code notAnAddress;
    asio::ip::make_address(address_.host, notAnAddress);
    if (notAnAddress) {
        // A name: the certificate must bear it, and the server is told which one (SNI).
        SSL_set1_host(ssl, address_.host.c_str());
        SSL_set_tlsext_host_name(ssl, address_.host.c_str());
    } else {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), address_.host.c_str());
    }
    stream.asyncHandshake(
        false, [this](auto step) { asio::post(link_->io, std::move(step)); },
        [this, o, where, failed](const boost::system::error_code& ec) {
            if (ec) {
                link_->stream.reset();
                return failed("the back office at " + where +
                                  " is not the one of the certificate " + address_.caFile,
                              ec);
            }
            o->finish({});
        });
}

void TcpTransport::open(std::function<void(std::string)> done) {
    const std::string where = address_.host + ":" + std::to_string(address_.port);
    auto o = std::make_shared<Opening>(link_->io);
    o->done = std::move(done);
    const auto failed = [o, where, host = address_.host](const std::string& what,
                                                         const boost::system::error_code& ec) {
        if (o->timedOut && o->step == "resolving")
            return o->finish(unknownHost + host + ": no answer from the name service within the " +
                             "connect time-out");
        o->finish(o->timedOut ? "no answer from the back office at " + where + " within the " +
                                    "connect time-out (" + o->step + ")"
                              : what + ": " + ec.message());
    };
    o->deadline.expires_after(address_.connectTimeout);
    o->deadline.async_wait([this, o](const boost::system::error_code& ec) {
        if (ec || !o->done)
            return;
        o->timedOut = true;
        o->resolver.cancel();
        boost::system::error_code ignored;
        o->socket.close(ignored);
        if (link_->stream)
            link_->stream->socket().close(ignored);
    });
    o->resolver.async_resolve(
        address_.host, std::to_string(address_.port),
        [this, o, where, failed](const boost::system::error_code& ec,
                                 tcp::resolver::results_type found) {
            if (ec)
                return failed(unknownHost + address_.host, ec);
            o->step = "connecting";
            asio::async_connect(o->socket, found,
                                [this, o, where, failed](const boost::system::error_code& ec,
                                                         const tcp::endpoint&) {
                                    if (ec)
                                        return failed("cannot reach the back office at " + where,
                                                      ec);
                                    boost::system::error_code ignored;
                                    o->socket.set_option(tcp::no_delay(true), ignored);
                                    if (!address_.tls) {
                                        link_->stream.emplace(std::move(o->socket));
                                        return o->finish({});
                                    }
                                    handshake(o, where, failed);
                                });
        });
}

void TcpTransport::connect(Callbacks callbacks) {
    callbacks_ = std::move(callbacks);
    asio::post(link_->io, [this] {
        readReplies();
        restSoon();
    });
    thread_ = std::thread([this] {
        auto work = asio::make_work_guard(link_->io);
        link_->io.run();
    });
}

HRESULT TcpTransport::submit(std::int64_t packetId, std::string request) {
    if (broken_) {
        // The connection is made again on the network thread; this one waits, pumping.
        auto reopened = std::make_shared<std::atomic<int>>(-1);
        asio::post(link_->io,
                   [this, reopened] { reopen([reopened](bool ok) { *reopened = ok; }); });
        waitFor([&] { return *reopened >= 0; });
        if (*reopened == 0)
            return hr::transportBroken;
    }
    asio::post(link_->io, [this, packetId, request = std::move(request)]() mutable {
        // Closed meanwhile for want of a login, it is made again first.
        reopen([this, packetId, request = std::move(request)](bool ok) mutable {
            if (!ok)
                return callbacks_.broken(hr::transportBroken);
            queue(packetId, std::move(request));
        });
    });
    return hr::ok;
}

void TcpTransport::abandoned(std::int64_t packetId, HRESULT) {
    asio::post(link_->io, [this, packetId] { awaited_.erase(packetId); });
}

void TcpTransport::queue(std::int64_t packetId, std::string request) {
    if (functionOf(request) == loginFunction) {
        loginPacket_ = packetId;
        pendingLogin_ = request;
    } else if (!loginRefusal_.empty() && !login_.empty()) {
        // The replayed login was refused: it is tried again ahead of the request.
        out_.push_back(protocol::encodeFrame(replayedLogin, login_));
        ++replays_;
    }
    awaited_.insert(packetId);
    out_.push_back(protocol::encodeFrame(packetId, request));
    writeNext();
}

void TcpTransport::reopen(std::function<void(bool)> done) {
    if (!broken_)
        return done(true);
    reopening_.push_back(std::move(done));
    if (reopening_.size() > 1)
        return; // being made already
    ++connection_;
    link_->stream.reset();
    link_->reader = protocol::FrameReader();
    out_.clear();
    writing_ = false;
    loginRefusal_.clear();
    awaited_.clear();
    replays_ = 0;
    loggedIn_ = false;
    open([this](const std::string& error) {
        const auto waiting = std::move(reopening_);
        reopening_.clear();
        if (error.empty()) {
            broken_ = false;
            if (!login_.empty()) {
                out_.push_back(protocol::encodeFrame(replayedLogin, login_));
                ++replays_;
            }
            readReplies();
            writeNext();
        }
        for (const auto& done : waiting)
            done(error.empty());
    });
}

bool TcpTransport::take(protocol::Frame& frame) {
    protocol::PacketView view;
    if (view.decode(frame.packet) != protocol::DecodeStatus::Ok)
        return false;
    if (frame.packetId == replayedLogin && replays_ > 0) {
        --replays_;
        // A refusal shows in the reply of the request behind it.
        loggedIn_ = view.returnCode() == 0;
        loginRefusal_ = loggedIn_ ? std::string() : frame.packet;
        return true;
    }
    if (awaited_.erase(frame.packetId) == 0) {
        if (callbacks_.dropped)
            callbacks_.dropped(frame.packetId);
        return true;
    }
    if (!loginRefusal_.empty() && view.returnCode() == notLoggedIn)
        frame.packet = refusedForLogin(frame.packet, loginRefusal_);
    if (frame.packetId == loginPacket_ && !pendingLogin_.empty()) {
        // A refused login empties the server's session, so it is not replayed.
        loggedIn_ = view.returnCode() == 0;
        login_ = loggedIn_ ? std::move(pendingLogin_) : std::string();
        pendingLogin_.clear();
        loginRefusal_.clear();
    }
    callbacks_.deliver(frame.packetId, std::move(frame.packet));
    return true;
}

void TcpTransport::readReplies() {
    link_->stream->asyncReadSome(
        asio::buffer(link_->in),
        [this, connection = connection_](const boost::system::error_code& ec, std::size_t n) {
            if (connection != connection_)
                return;
            if (ec)
                return fail();
            link_->reader.feed(link_->in.data(), n);
            while (auto frame = link_->reader.next()) {
                if (!take(*frame))
                    return fail();
            }
            if (link_->reader.bad())
                return fail();
            if (idle())
                restSoon();
            readReplies();
        });
}

bool TcpTransport::idle() const {
    return !broken_ && !loggedIn_ && awaited_.empty() && replays_ == 0 && out_.empty();
}

void TcpTransport::restSoon() {
    link_->restTimer.expires_after(restAfter);
    link_->restTimer.async_wait(
        [this, connection = connection_](const boost::system::error_code& ec) {
            if (ec || connection != connection_ || !idle())
                return;
            ++connection_;
            broken_ = true;
            boost::system::error_code ignored;
            link_->stream->socket().close(ignored);
        });
}

void TcpTransport::writeNext() {
    if (writing_ || out_.empty() || broken_)
        return;
    writing_ = true;
    link_->stream->asyncWrite(
        asio::buffer(out_.front()),
        [this, connection = connection_](const boost::system::error_code& ec, std::size_t) {
            if (connection != connection_)
                return;
            writing_ = false;
            if (ec)
                return fail();
            if (broken_) // failed meanwhile; out_ is emptied
                return;
            out_.pop_front();
            writeNext();
        });
}

void TcpTransport::fail() {
    if (broken_.exchange(true))
        return;
    boost::system::error_code ignored;
    link_->stream->socket().close(ignored);
    out_.clear();
    awaited_.clear();
    replays_ = 0;
    loggedIn_ = false;
    callbacks_.broken(hr::transportBroken);
}

bool parseBackOfficeAddress(const std::string& text, BackOfficeAddress& address) {
    std::string rest;
    bool tls = false;
    if (text.rfind("tcp://", 0) == 0) {
        rest = text.substr(6);
    } else if (text.rfind("tls://", 0) == 0) {
        rest = text.substr(6);
        tls = true;
    } else {
        return false;
    }
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const std::string digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int value = std::stoi(digits);
    if (value <= 0 || value > 65535)
        return false;
    address.host = rest.substr(0, colon);
    address.port = static_cast<std::uint16_t>(value);
    address.tls = tls;
    return true;
}

} // namespace counter
