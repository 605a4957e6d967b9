#include "TcpServer.h"

#include "Log.h"
#include "Request.h"
#include "StrangerPool.h"
#include "StrangerQueue.h"

#include "protocol/Frame.h"
#include "protocol/Net.h"
#include "protocol/Packet.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <sys/resource.h>

#include <atomic>
#include <deque>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace backoffice {

namespace asio = boost::asio;
namespace net = protocol::net;
using net::tcp;
using Clock = std::chrono::steady_clock;

namespace {

class Connection;

constexpr std::int32_t loginFunction = protocol::function::login;

// A fault a worker meets outside any request's reply is logged, once, and goes no
// further: the worker runs on. Called inside the catch block.
void logWorkerFault(const char* where) noexcept {
    try {
        std::string what = "an exception of no standard kind";
        try {
            throw;
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        logLine(LogPriority::Error, std::string("marlo-backoffice: fault ") + where + ": " + what);
    } catch (...) {
        // Not even the log line could be made: there is nowhere left to tell it.
    }
}

// The operator a login request names, or nothing when the request is no login.
std::optional<std::string> loginOperator(const std::string& packet) {
    protocol::PacketView view;
    if (view.decode(packet) != protocol::DecodeStatus::Ok || view.functionNo() != loginFunction)
        return std::nullopt;
    const auto field = view.indexOf("operator_no");
    if (field < 0 || view.recordCount() == 0 ||
        view.field(static_cast<std::size_t>(field)).type != protocol::FieldType::Text)
        return std::string(); // refused by the back office, which says why
    return std::string(view.text(0, static_cast<std::size_t>(field)));
}

bool accepted(const std::string& reply) {
    protocol::PacketView view;
    return view.decode(reply) == protocol::DecodeStatus::Ok && view.returnCode() == 0;
}

// The connections logged in, per operator and in all. Each connection is counted once,
// under the operator logged in on it. Logins under way are not counted: strangers who
// guess at an operator must not take his slots.
class LoginSlots {
public:
    LoginSlots(std::size_t perOperator, std::size_t total)
        : perOperator_(perOperator), total_(total) {}

    // Why a connection counted under `held` (empty: none) may not log in as `operatorNo`;
    // empty when it may.
    std::string refusal(const std::string& held, const std::string& operatorNo) const {
        if (held == operatorNo)
            return {};
        const auto it = counts_.find(operatorNo);
        if (it != counts_.end() && it->second >= perOperator_)
            return "操作员[" + operatorNo + "]已在" + std::to_string(perOperator_) +
                   "个连接上登录，请先退出其他柜台的登录，或请管理员处理";
        if (held.empty() && counted_ >= total_)
            return "后台的登录连接已满，请稍后再试";
        return {};
    }

    // The connection counted under `from` is counted under `to` from now on; either may be
    // empty (not counted).
    void move(std::string& from, const std::string& to) {
        if (from == to)
            return;
        if (!from.empty()) {
            const auto it = counts_.find(from);
            if (--it->second == 0)
                counts_.erase(it);
            --counted_;
        }
        if (!to.empty()) {
            ++counts_[to];
            ++counted_;
        }
        from = to;
    }

private:
    std::size_t perOperator_;
    std::size_t total_;
    std::size_t counted_ = 0;
    std::unordered_map<std::string, std::size_t> counts_;
};

// How often the connections' deadlines are looked at.
// The answer to a request that is not carried out: `why` the back office is busy.
std::string refusal(const std::string& packet, const char* why) {
    protocol::PacketView view;
    const std::int32_t functionNo =
        view.decode(packet) == protocol::DecodeStatus::Ok ? view.functionNo() : 0;
    return errorReply(functionNo, errors::busy, why);
}

// A request that was still queued when the server began to finish.
constexpr const char* finishingRefusal = "后台正在停止，请稍后再试";
// A stranger's request the strangers' queue has no room or time for.
constexpr const char* strangersBusy = "后台繁忙，请稍后再试";

// The strangers' pool as the descriptors allow: the soft limit is raised as far as the pool
// and the logged-in connections want, within the hard one.
std::size_t strangerRoom(const TcpServer::Options& o) {
    // Too few descriptors for any pool is met by pausing accepts; a pool this small keeps
    // the server reachable meanwhile.
    constexpr std::size_t smallest = 16;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return o.maxStrangers;
    const rlim_t taken = o.maxConnections + o.descriptorReserve;
    const rlim_t wanted = o.maxStrangers + taken;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        const rlimit raised{std::min(wanted, limit.rlim_max), limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return o.maxStrangers;
    const std::size_t room = limit.rlim_cur > taken ? limit.rlim_cur - taken : 0;
    return std::min(o.maxStrangers, std::max(room, smallest));
}

StrangerPool::Bounds poolBounds(const TcpServer::Options& o) {
    StrangerPool::Bounds bounds;
    bounds.room = strangerRoom(o);
    bounds.perSource = o.maxStrangersPerSource;
    bounds.earlyDropFrom = o.earlyDropFrom;
    bounds.earlyDropChance = o.earlyDropChance;
    bounds.knownFor = o.knownFor;
    bounds.knownRoom = o.knownRoom;
    bounds.perKnownSource = o.maxStrangersPerKnownSource;
    return bounds;
}

// A TLS server context for the pair, or std::runtime_error. A new one is made when the pair
// is read again: the one in use is never changed while handshakes run on it.
std::shared_ptr<asio::ssl::context> tlsContext(const std::string& certificateFile,
                                               const std::string& keyFile) {
    auto tls = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                     asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                     asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use);
    // No counter resumes a session: a ticket would be a stranger's handshake's work for nothing.
    SSL_CTX_set_num_tickets(tls->native_handle(), 0);
    try {
        tls->use_certificate_chain_file(certificateFile);
        tls->use_private_key_file(keyFile, asio::ssl::context::pem);
    } catch (const boost::system::system_error& e) {
        throw std::runtime_error("cannot use the certificate " + certificateFile + " and key " +
                                 keyFile + ": " + e.what());
    }
    return tls;
}

// Runs a stranger's handshake steps among the strangers' work, as steps of a known address
// or not. It keeps no work counted there: a handshake waiting for the peer holds nothing.
class AmongStrangers {
public:
    AmongStrangers(StrangerQueue& queue, bool known) : queue_(&queue), known_(known) {}
    template <class F> void operator()(F step) const {
        // A step dropped when the queue stops is never run: the server is going.
        queue_->post(std::move(step), known_);
    }

private:
    StrangerQueue* queue_;
    bool known_;
};

std::chrono::milliseconds sweepEvery(const TcpServer::Options& o) {
    const auto quarter = std::min({o.frameTimeout, o.idleTimeout, o.loginTimeout}) / 4;
    return std::clamp(quarter, std::chrono::milliseconds(10), std::chrono::milliseconds(250));
}

} // namespace

struct TcpServer::Impl {
    Impl(protocol::PacketService& service, Options options);
    void accept();
    // A new connection, when the strangers' pool takes it.
    void admit(tcp::socket socket, const tcp::endpoint& peer);
    void sweep();
    void finish(std::chrono::milliseconds grace);
    // Stops the loop once every connection is closed or the grace has passed.
    void awaitFinished(Clock::time_point deadline);
    void hold(std::ptrdiff_t delta) {
        const std::size_t now = held += static_cast<std::size_t>(delta);
        std::size_t peak = peakHeld.load();
        while (now > peak && !peakHeld.compare_exchange_weak(peak, now)) {
        }
    }

    protocol::PacketService& service;
    Options options;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    // The address of the connection being accepted, given with it.
    tcp::endpoint acceptedFrom;
    asio::steady_timer acceptRetry{io};
    asio::steady_timer sweeper{io};
    asio::steady_timer finishTimer{io};
    // Set when the server finishes: a queued request is refused, not carried out, since its
    // answer might never be sent.
    std::atomic<bool> finishing{false};
    // Null for clear TCP; replaced, never changed, when the pair is read again.
    std::shared_ptr<asio::ssl::context> tls;
    std::uint16_t port = 0;
    std::unordered_set<std::shared_ptr<Connection>> open;
    LoginSlots logins;
    StrangerPool strangers;
    std::atomic<std::size_t> openCount{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::uint64_t> refused{0};
    std::atomic<std::uint64_t> refusedLogins{0};
    std::atomic<std::uint64_t> faults{0};
    std::atomic<std::uint64_t> acceptFailures{0};
    std::atomic<std::size_t> held{0};
    std::atomic<std::size_t> peakHeld{0};
    // Last: their threads are joined before anything they post to goes. Requests of
    // connections nobody has logged in on (logins, with their slow password hash) have a
    // queue and a thread of their own, so logins waiting for a hash never hold up logged-in
    // counters.
    asio::thread_pool workers;
    StrangerQueue strangerWork;
};

namespace {

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(TcpServer::Impl& server, tcp::socket socket, std::string source,
               StrangerPool::Admission admission)
        : server_(server), admission_(admission), tls_(server.tls),
          stream_(tls_ ? net::Stream(std::move(socket), *tls_) : net::Stream(std::move(socket))),
          source_(std::move(source)),
          reader_(std::min(server.options.maxStrangerFrame, server.options.maxFrame)),
          in_(std::make_unique_for_overwrite<char[]>(strangerInSize)), holdTimer_(server.io) {
        connectedAt_ = frameStart_ = lastActivity_ = lastWrite_ = refilled_ = Clock::now();
        allowance_ = server.options.pipelinedBurst;
    }

    const std::string& source() const { return source_; }
    Clock::time_point connectedAt() const { return connectedAt_; }
    // Nobody has ever logged in on it, and no request is in hand that might.
    bool stranger() const { return !busy_ && admission_.taken; }

    void start() {
        boost::system::error_code ignored;
        stream_.socket().set_option(tcp::no_delay(true), ignored);
        const auto& o = server_.options;
        stream_.socket().set_option(asio::socket_base::send_buffer_size(o.sendBuffer), ignored);
        stream_.socket().set_option(asio::socket_base::receive_buffer_size(o.receiveBuffer),
                                    ignored);
        if (stream_.tls()) {
            // The handshake's work (its key exchange and signature) is a stranger's, so it
            // runs on the strangers' thread: the network thread only waits for its bytes.
            // Meanwhile that thread alone touches the stream; the end comes back here.
            handshaking_ = true;
            stream_.asyncHandshake(
                true, AmongStrangers(server_.strangerWork, admission_.known),
                [self = shared_from_this()](const boost::system::error_code& ec) {
                    asio::post(self->server_.io, [self, ec] { self->handshaken(ec); });
                });
            return;
        }
        pump();
    }

    // Closes the connection when one of its deadlines has passed.
    void sweep(Clock::time_point now) {
        const auto& o = server_.options;
        if (closed_ || rejected_)
            return;
        if (stranger() && now - connectedAt_ > o.loginTimeout) {
            close(true);
        } else if (handshaking_ || (reading_ && reader_.midFrame())) {
            if (now - frameStart_ > o.frameTimeout)
                close(true);
        } else if (!out_.empty()) {
            if (now - lastWrite_ > o.frameTimeout)
                close(true);
        } else if (!busy_ && !next_ && now - lastActivity_ > o.idleTimeout) {
            close(true);
        }
    }

    void close(bool drop) {
        if (closed_)
            return;
        closed_ = true;
        if (drop)
            ++server_.dropped;
        const auto self = shared_from_this(); // the set held the last reference
        out_.clear();
        outBytes_ = 0;
        next_.reset();
        holdTimer_.cancel();
        reader_ = protocol::FrameReader(0);
        account();
        server_.logins.move(loginAs_, {});
        leavePool();
        // Uncounted before the peer can see the close, so whoever saw it also sees the
        // connection gone from the count.
        --server_.openCount;
        server_.open.erase(self);
        // Mid-handshake the stream is the strangers' thread's: closed there, which ends the
        // handshake. Once that thread has stopped, nothing else touches it.
        if (handshaking_ &&
            server_.strangerWork.post([self] { self->closeSocket(); }, admission_.known))
            return;
        closeSocket();
    }

    // A client that sent what no counter sends (a bad or oversized frame, no TLS
    // handshake) is read no more and closed after a pause: closed at once, a client that
    // comes straight back would cost the server a connection per turn at full speed.
    void reject() {
        if (closed_ || rejected_)
            return;
        rejected_ = true;
        ++server_.dropped;
        reader_ = protocol::FrameReader(0);
        next_.reset();
        account();
        holdTimer_.expires_after(server_.options.rejectPause);
        holdTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
            if (!ec)
                self->close(false);
        });
    }

    // The server is finishing: nothing more is read or taken; the connection closes once
    // the request in hand is answered.
    void finish() {
        closing_ = true;
        next_.reset();
        account();
        if (rejected_ || (!busy_ && out_.empty()))
            close(false);
    }

private:
    void handshaken(const boost::system::error_code& ec) {
        handshaking_ = false;
        if (closed_)
            return;
        if (ec)
            return reject();
        lastActivity_ = Clock::now();
        pump();
    }

    void closeSocket() {
        boost::system::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    void read() {
        if (reading_ || handshaking_ || closed_ || rejected_ || closing_ || next_ || outputFull())
            return;
        reading_ = true;
        if (!admission_.taken && inSize_ < inSize) {
            // Logged in: large frames are read in large pieces.
            in_ = std::make_unique_for_overwrite<char[]>(inSize);
            inSize_ = inSize;
        }
        stream_.asyncReadSome(
            asio::buffer(in_.get(), inSize_),
            [self = shared_from_this()](const boost::system::error_code& ec, std::size_t n) {
                self->reading_ = false;
                if (ec)
                    return self->close(false);
                self->received(n);
            });
    }

    void received(std::size_t n) {
        const auto now = Clock::now();
        lastActivity_ = now;
        if (!reader_.midFrame())
            frameStart_ = now; // a slow sender's every byte does not move this
        reader_.feed(in_.get(), n);
        account(); // a whole large frame is held here, before a worker takes it
        pump();
    }

    // Takes the next whole frame to a worker when none is in hand; reads on only when no
    // whole frame is waiting, so a client that pipelines is held to one frame in memory.
    void pump() {
        if (closed_ || rejected_ || holding_ || closing_)
            return;
        const bool waited = next_.has_value(); // taken while the one before was in hand
        takeFrame();
        if (reader_.bad())
            return reject();
        if (next_ && !busy_ && !outputFull()) {
            if (waited && !pipelineAllowance())
                return;
            protocol::Frame frame = std::move(*next_);
            next_.reset();
            auto login = loginOperator(frame.packet);
            if (login && !login->empty()) {
                const std::string refusal = server_.logins.refusal(loginAs_, *login);
                if (!refusal.empty())
                    return refuseLogin(frame.packetId, refusal);
            }
            dispatch(std::move(frame), std::move(login));
            takeFrame();
        }
        account();
        read();
    }

    // To a worker. Nothing may escape into the pool, which would end the process: a
    // request whose handling throws gets no reply, and its connection is closed.
    void dispatch(protocol::Frame frame, std::optional<std::string> login) {
        busy_ = true;
        if (!session_)
            session_ = server_.service.openSession(source_);
        auto work = [self = shared_from_this(), frame = std::move(frame),
                     login = std::move(login)](bool run) noexcept {
            std::optional<std::string> reply;
            try {
                reply = self->server_.finishing ? refusal(frame.packet, finishingRefusal)
                        : run                   ? self->session_->handle(frame.packet)
                                                : refusal(frame.packet, strangersBusy);
            } catch (...) {
                logWorkerFault("while answering a request");
            }
            try {
                asio::post(self->server_.io, [self, id = frame.packetId, login = login,
                                              reply = std::move(reply)]() mutable {
                    self->replied(id, login, std::move(reply));
                });
            } catch (...) {
                logWorkerFault("while handing a reply to its connection");
            }
        };
        if (session_->loggedIn()) {
            server_.strangerWork.countersAsked();
            return asio::post(server_.workers, [work = std::move(work)] { work(true); });
        }
        // No room in the strangers' queue: refused now, on this thread, for almost nothing,
        // and the connection takes no request for as long as the queue's wait, within which
        // it would likely find the queue as full.
        if (!server_.strangerWork.push(work, admission_.known)) {
            hold(server_.options.strangerWait);
            work(false);
        }
    }

    // A login over a bound: answered without a try of its password, and the connection
    // closed once the answer is sent, so no session it had stays open.
    void refuseLogin(std::int64_t packetId, const std::string& why) {
        ++server_.refusedLogins;
        closing_ = true;
        next_.reset();
        reader_ = protocol::FrameReader(0);
        send(packetId, errorReply(loginFunction, errors::tooManyLogins, why));
    }

    // After a request: the connection is counted under the operator logged in on it.
    // False when it must be closed once the reply is sent: a login refused on a connection
    // that stays logged in (who is logged in on it is then not known here), or accepted
    // over a bound that logins under way at once passed together (its reply is then the
    // refusal).
    bool settleLogin(const std::optional<std::string>& login, std::string& reply) {
        // A refused re-login ends the session, not the connection: it stays counted under
        // the operator who was logged in on it, with the idle deadline it had, and may log
        // in again.
        if (!session_->loggedIn())
            return true;
        if (!login)
            return true;
        if (login->empty() || !accepted(reply))
            return false;
        const std::string refusal = server_.logins.refusal(loginAs_, *login);
        if (!refusal.empty()) {
            ++server_.refusedLogins;
            reply = errorReply(loginFunction, errors::tooManyLogins, refusal);
            return false;
        }
        server_.logins.move(loginAs_, *login);
        reader_.limit(server_.options.maxFrame);
        leavePool();
        server_.strangers.loggedIn(source_, Clock::now());
        return true;
    }

    void leavePool() {
        server_.strangers.release(source_, admission_);
        admission_.taken = false;
    }

    bool outputFull() const { return outBytes_ >= server_.options.maxOutput; }

    void takeFrame() {
        if (next_)
            return;
        next_ = reader_.next();
        if (next_ && reader_.midFrame())
            frameStart_ = Clock::now();
    }

    // Whether a pipelined request may go now; if not, the connection is held until it may.
    bool pipelineAllowance() {
        const auto& o = server_.options;
        const auto now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - refilled_).count();
        refilled_ = now;
        allowance_ = std::min(o.pipelinedBurst, allowance_ + seconds * o.pipelinedPerSecond);
        if (allowance_ >= 1) {
            allowance_ -= 1;
            return true;
        }
        hold(std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::duration<double>((1 - allowance_) / o.pipelinedPerSecond)) +
             std::chrono::milliseconds(1));
        return false;
    }

    // Takes no request for a while, on a timer: no worker waits for it.
    void hold(std::chrono::milliseconds pause) {
        holding_ = true;
        holdTimer_.expires_after(pause);
        holdTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
            if (ec)
                return;
            self->holding_ = false;
            self->pump();
        });
    }

    void replied(std::int64_t packetId, const std::optional<std::string>& login,
                 std::optional<std::string> reply) {
        busy_ = false;
        if (closed_ || rejected_)
            return;
        if (!reply) {
            ++server_.faults;
            return close(true);
        }
        if (!settleLogin(login, *reply))
            closing_ = true;
        const auto holdBack = session_->holdBack();
        if (holdBack.count() > 0)
            hold(holdBack);
        send(packetId, *reply);
        pump();
    }

    void send(std::int64_t packetId, const std::string& reply) {
        out_.push_back(protocol::encodeFrame(packetId, reply));
        outBytes_ += out_.back().size();
        lastActivity_ = Clock::now();
        account();
        write();
    }

    void write() {
        if (writing_ || closed_ || out_.empty())
            return;
        writing_ = true;
        lastWrite_ = Clock::now();
        stream_.asyncWrite(
            asio::buffer(out_.front()),
            [self = shared_from_this()](const boost::system::error_code& ec, std::size_t) {
                self->writing_ = false;
                if (ec)
                    return self->close(false);
                if (self->closed_)
                    return;
                self->outBytes_ -= self->out_.front().size();
                self->out_.pop_front();
                self->lastWrite_ = self->lastActivity_ = Clock::now();
                if (self->closing_ && self->out_.empty() && !self->busy_)
                    return self->close(false);
                self->write();
                self->pump();
            });
    }

    void account() {
        std::size_t now = reader_.buffered() + outBytes_ + (next_ ? next_->packet.size() : 0);
        server_.hold(static_cast<std::ptrdiff_t>(now) - static_cast<std::ptrdiff_t>(held_));
        held_ = now;
    }

    TcpServer::Impl& server_;
    // Counted in the strangers' pool until a login succeeds on it.
    StrangerPool::Admission admission_;
    // The context its TLS stream was made with, kept while the stream lives.
    std::shared_ptr<asio::ssl::context> tls_;
    net::Stream stream_;
    std::string source_;
    // Opened with its first request: a connection that never sends one costs no session.
    std::unique_ptr<protocol::PacketSession> session_;
    protocol::FrameReader reader_;
    std::optional<protocol::Frame> next_;
    // Not zeroed: a connection that is opened and closed at once pays for no more than
    // the allocation. A stranger reads into a small one until a login succeeds.
    static constexpr std::size_t inSize = 65536;
    static constexpr std::size_t strangerInSize = 4096;
    std::size_t inSize_ = strangerInSize;
    std::unique_ptr<char[]> in_;
    std::deque<std::string> out_;
    std::size_t outBytes_ = 0;
    std::size_t held_ = 0;
    bool handshaking_ = false;
    bool reading_ = false;
    bool writing_ = false;
    bool busy_ = false;
    bool closed_ = false;
    bool rejected_ = false;
    // Taking no more requests (a refused login, or the server finishing); closed once its
    // replies are sent.
    bool closing_ = false;
    // The operator it is counted under in the server's login slots; empty: none.
    std::string loginAs_;
    // A held connection takes no request until its hold timer goes off.
    bool holding_ = false;
    // Pipelined requests it may still send at once; refilled over time.
    double allowance_ = 0;
    Clock::time_point refilled_;
    asio::steady_timer holdTimer_;
    Clock::time_point connectedAt_;
    Clock::time_point frameStart_;
    Clock::time_point lastActivity_;
    Clock::time_point lastWrite_;
};

} // namespace

TcpServer::Impl::Impl(protocol::PacketService& service_, Options options_)
    : service(service_), options(std::move(options_)),
      logins(options.maxLoginsPerOperator, options.maxConnections), strangers(poolBounds(options)),
      workers(std::max<std::size_t>(1, options.workers)),
      strangerWork({options.strangerQueue, options.strangerWait}) {
    const bool secure = !options.certificateFile.empty() || !options.keyFile.empty();
    if (!secure && !net::isLoopback(options.host))
        throw std::runtime_error("clear TCP only on a loopback address; give a certificate "
                                 "and key to serve " +
                                 options.host);
    if (secure) {
        if (options.certificateFile.empty() || options.keyFile.empty())
            throw std::runtime_error("TLS needs both a certificate and a key");
        tls = tlsContext(options.certificateFile, options.keyFile);
    }
    boost::system::error_code ec;
    const auto address = asio::ip::make_address(options.host, ec);
    if (ec)
        throw std::runtime_error("not an IP address: " + options.host);
    const tcp::endpoint endpoint(address, options.port);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(endpoint, ec);
    if (ec)
        throw std::runtime_error("bind " + options.host + ":" + std::to_string(options.port) +
                                 ": " + ec.message());
    acceptor.listen(asio::socket_base::max_listen_connections);
    port = acceptor.local_endpoint().port();
}

void TcpServer::Impl::accept() {
    acceptor.async_accept(
        acceptedFrom, [this](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted)
                return;
            if (ec) {
                // Out of descriptors, for one: the waiting connection stays in the backlog, so
                // trying again at once would spin.
                ++acceptFailures;
                acceptRetry.expires_after(std::chrono::milliseconds(100));
                acceptRetry.async_wait([this](const boost::system::error_code& e) {
                    if (!e)
                        accept();
                });
                return;
            }
            admit(std::move(socket), acceptedFrom);
            accept();
        });
}

void TcpServer::Impl::admit(tcp::socket socket, const tcp::endpoint& peer) {
    std::string source = peer.address().to_string();
    const StrangerPool::Admission admission = strangers.admit(source, Clock::now());
    if (!admission.taken) {
        ++refused;
        boost::system::error_code ignored;
        socket.close(ignored);
        return;
    }
    auto c = std::make_shared<Connection>(*this, std::move(socket), std::move(source), admission);
    open.insert(c);
    ++openCount;
    c->start();
}

void TcpServer::Impl::sweep() {
    sweeper.expires_after(sweepEvery(options));
    sweeper.async_wait([this](const boost::system::error_code& ec) {
        if (ec)
            return;
        const auto now = Clock::now();
        // close() takes only the connection it closes out of the set, so the walk steps past
        // each before looking at it: nothing is copied for the thousands that stay.
        for (auto it = open.begin(); it != open.end();) {
            const std::shared_ptr<Connection> c = *it++;
            c->sweep(now);
        }
        sweep();
    });
}

void TcpServer::Impl::finish(std::chrono::milliseconds grace) {
    finishing = true;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    acceptRetry.cancel();
    // finish() may close a connection, which takes it out of the set: walk a copy.
    for (const auto& c : std::vector<std::shared_ptr<Connection>>(open.begin(), open.end()))
        c->finish();
    awaitFinished(Clock::now() + grace);
}

void TcpServer::Impl::awaitFinished(Clock::time_point deadline) {
    if (open.empty() || Clock::now() >= deadline)
        return io.stop();
    finishTimer.expires_after(std::chrono::milliseconds(10));
    finishTimer.async_wait([this, deadline](const boost::system::error_code& ec) {
        if (!ec)
            awaitFinished(deadline);
    });
}

TcpServer::TcpServer(protocol::PacketService& service, Options options)
    : impl_(std::make_unique<Impl>(service, std::move(options))) {}

TcpServer::~TcpServer() {
    // What is still queued is refused at once: joined, the pools would otherwise carry it
    // out for a network loop that no longer sends the answers.
    impl_->finishing = true;
    impl_->io.stop();
    impl_->workers.join();
    impl_->strangerWork.stop();
    for (const auto& c :
         std::vector<std::shared_ptr<Connection>>(impl_->open.begin(), impl_->open.end()))
        c->close(false);
}

std::uint16_t TcpServer::port() const {
    return impl_->port;
}

void TcpServer::run(bool stopOnSignals) {
    std::optional<asio::signal_set> signals;
    if (stopOnSignals) {
        signals.emplace(impl_->io, SIGINT, SIGTERM);
        signals->async_wait([this](const boost::system::error_code&, int) { stop(); });
    }
    impl_->accept();
    impl_->sweep();
    impl_->io.run();
}

void TcpServer::stop() {
    impl_->io.stop();
}

void TcpServer::reload(const Options& next) {
    // A bad pair throws here and leaves the context in use as it is.
    std::shared_ptr<asio::ssl::context> tls;
    if (impl_->tls)
        tls = tlsContext(next.certificateFile, next.keyFile);
    asio::post(impl_->io, [this, next, tls = std::move(tls)] {
        Options& o = impl_->options;
        o.frameTimeout = next.frameTimeout;
        o.idleTimeout = next.idleTimeout;
        o.loginTimeout = next.loginTimeout;
        o.maxStrangersPerSource = next.maxStrangersPerSource;
        if (tls) {
            impl_->tls = tls;
            o.certificateFile = next.certificateFile;
            o.keyFile = next.keyFile;
        }
    });
}

void TcpServer::finish(std::chrono::milliseconds grace) {
    asio::post(impl_->io, [this, grace] { impl_->finish(grace); });
}

std::size_t TcpServer::connections() const {
    return impl_->openCount.load();
}
std::uint64_t TcpServer::dropped() const {
    return impl_->dropped.load();
}
std::uint64_t TcpServer::refused() const {
    return impl_->refused.load();
}
std::size_t TcpServer::strangerRoom() const {
    return impl_->strangers.room();
}
std::uint64_t TcpServer::refusedLogins() const {
    return impl_->refusedLogins.load();
}
std::uint64_t TcpServer::faults() const {
    return impl_->faults.load();
}
std::uint64_t TcpServer::strangerRequestsDone() const {
    return impl_->strangerWork.done();
}
std::uint64_t TcpServer::strangerRequestsRefused() const {
    return impl_->strangerWork.refusedFull() + impl_->strangerWork.refusedLate();
}
std::size_t TcpServer::peakStrangerQueue() const {
    return impl_->strangerWork.peakWaiting();
}
std::uint64_t TcpServer::acceptFailures() const {
    return impl_->acceptFailures.load();
}
std::size_t TcpServer::heldBytes() const {
    return impl_->held.load();
}
std::size_t TcpServer::peakHeldBytes() const {
    return impl_->peakHeld.load();
}

} // namespace backoffice
