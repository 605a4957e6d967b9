#include "HostObjectsFixture.h"

#include "ARCom.h"
#include "EmbeddedTransport.h"
#include "TcpTransport.h"
#include "TranscriptTransport.h"

#include "Certificate.h"
#include "Database.h"
#include "Passwords.h"
#include "ServerThread.h"
#include "protocol/Frame.h"
#include "protocol/Service.h"

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

namespace {

// The training back office, slowed down for requests of function 1 so that a reply can
// come after its time-out.
class SlowService final : public protocol::PacketService {
public:
    explicit SlowService(std::unique_ptr<protocol::PacketService> inner)
        : inner_(std::move(inner)) {}
    std::unique_ptr<protocol::PacketSession> openSession() override {
        return std::make_unique<Session>(inner_->openSession());
    }
    std::unique_ptr<protocol::PacketSession> openSession(const std::string& peer) override {
        return std::make_unique<Session>(inner_->openSession(peer));
    }

private:
    class Session final : public protocol::PacketSession {
    public:
        explicit Session(std::unique_ptr<protocol::PacketSession> inner)
            : inner_(std::move(inner)) {}
        std::string handle(std::string_view request) override {
            protocol::PacketView view;
            if (view.decode(request) == protocol::DecodeStatus::Ok && view.functionNo() == 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return inner_->handle(request);
        }
        bool loggedIn() const override { return inner_->loggedIn(); }
        std::chrono::milliseconds holdBack() const override { return inner_->holdBack(); }

    private:
        std::unique_ptr<protocol::PacketSession> inner_;
    };
    std::unique_ptr<protocol::PacketService> inner_;
};

class TransportTest : public HostObjectsTest {
protected:
    void SetUp() override {
        HostObjectsTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        service = std::make_shared<SlowService>(
            protocol::openBackOfficeService(dir.filePath("office.db").toStdString()));
    }

    // Opens the session of operator 1001 on the communication object, as the counter's
    // login does.
    void login(HostPtr<IARCom>& com) { ASSERT_EQ(loginWith(com, "pass1001"), 0); }
    // The return code of a login of 1001 with that password.
    std::int64_t loginWith(HostPtr<IARCom>& com, const char* password) {
        auto packer = newPacker();
        check(com->InitRequest(100001, packer.get()), "InitRequest");
        set(packer, "op_branch_no", Variant(std::int64_t{0}));
        set(packer, "operator_no", Variant("1001"));
        set(packer, "op_station", Variant("test"));
        set(packer, "op_entrust_way", Variant("4"));
        set(packer, "function_id", Variant(std::int64_t{100001}));
        set(packer, "password", Variant(password));
        Variant id;
        check(com->Send(packed(packer), 1000, &id), "Send");
        auto reader = receive(com, id);
        return count(&IUnpackerDisp::ReturnCode, reader);
    }

    // Sends a configuration request (or one of function 1) and gives its packet id.
    Variant send(HostPtr<IARCom>& com, std::int32_t functionNo = 105006) {
        auto packer = newPacker();
        check(com->InitRequest(functionNo, packer.get()), "InitRequest");
        set(packer, "op_branch_no", Variant(std::int64_t{8}));
        set(packer, "operator_no", Variant("1001"));
        set(packer, "op_password", Variant("pass1001"));
        set(packer, "op_station", Variant("test"));
        set(packer, "op_entrust_way", Variant("4"));
        set(packer, "function_id", Variant(std::int64_t{functionNo}));
        set(packer, "branch_no", Variant(std::int64_t{8}));
        set(packer, "config_no", Variant(std::int64_t{1129}));
        Variant id;
        check(com->Send(packed(packer), 1000, &id), "Send");
        return id;
    }

    HostPtr<IUnpackerDisp> receive(HostPtr<IARCom>& com, const Variant& id, int timeoutMs = 5000) {
        Variant data;
        check(com->Receive(id, timeoutMs, &data), "Receive");
        auto reader = newUnpacker();
        check(reader->Open(data), "Open");
        return reader;
    }

    // A timed-out request, then another: the late reply is dropped, never read as the
    // second request's.
    void expectLateReplyDropped(counter::ARCom* arcom, HostPtr<IARCom>& com) {
        const Variant slow = send(com, 1);
        Variant data;
        EXPECT_EQ(com->Receive(slow, 100, &data), hr::timeout);
        const Variant next = send(com);
        auto reader = receive(com, next);
        EXPECT_EQ(count(&IUnpackerDisp::ReturnCode, reader), 0);
        EXPECT_EQ(get(reader, Variant("int_config")).toInteger(), 8);
        EXPECT_EQ(arcom->droppedReplies(), 1u);
    }

    QTemporaryDir dir;
    std::shared_ptr<SlowService> service;
};

int rawConnection(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

// True when the server closed the connection within the time given.
bool closedByServer(int fd, std::chrono::milliseconds within) {
    timeval tv{static_cast<time_t>(within.count() / 1000),
               static_cast<suseconds_t>((within.count() % 1000) * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char byte;
    return ::recv(fd, &byte, 1, 0) == 0;
}

} // namespace

TEST_F(TransportTest, EmbeddedBackOfficeAnswersAndDropsLateReplies) {
    auto* arcom = new counter::ARCom(std::make_unique<counter::EmbeddedTransport>(service));
    auto com = HostPtr<IARCom>::adopt(arcom);
    login(com);
    auto reader = receive(com, send(com));
    EXPECT_EQ(get(reader, Variant("int_config")).toInteger(), 8);
    expectLateReplyDropped(arcom, com);
}

TEST_F(TransportTest, TcpCountersShareOneServer) {
    ServerThread server(*service, std::chrono::milliseconds(5000));
    std::vector<std::thread> counters;
    std::atomic<int> good{0};
    for (int c = 0; c < 8; ++c) {
        counters.emplace_back([&] {
            auto com = HostPtr<IARCom>::adopt(new counter::ARCom(
                std::make_unique<counter::TcpTransport>("127.0.0.1", server.server.port())));
            login(com);
            for (int i = 0; i < 20; ++i) {
                auto reader = receive(com, send(com));
                if (get(reader, Variant("int_config")).toInteger() == 8)
                    ++good;
            }
        });
    }
    for (std::thread& t : counters)
        t.join();
    EXPECT_EQ(good.load(), 160);
}

TEST_F(TransportTest, TcpTimeoutThenLateReplyIsDropped) {
    ServerThread server(*service, std::chrono::milliseconds(5000));
    auto* arcom = new counter::ARCom(
        std::make_unique<counter::TcpTransport>("127.0.0.1", server.server.port()));
    auto com = HostPtr<IARCom>::adopt(arcom);
    login(com);
    expectLateReplyDropped(arcom, com);
}

TEST_F(TransportTest, BadFramesCloseOnlyTheirConnection) {
    ServerThread server(*service, std::chrono::milliseconds(300));
    auto com = HostPtr<IARCom>::adopt(new counter::ARCom(
        std::make_unique<counter::TcpTransport>("127.0.0.1", server.server.port())));
    login(com);

    // A length too short for a packet id, then one over the size cap.
    const int tooShort = rawConnection(server.server.port());
    const char shortFrame[] = {2, 0, 0, 0, 'x', 'y'};
    ::send(tooShort, shortFrame, sizeof shortFrame, 0);
    EXPECT_TRUE(closedByServer(tooShort, std::chrono::milliseconds(2000)));
    const int oversized = rawConnection(server.server.port());
    const std::uint32_t huge = 0x7FFFFFFF;
    ::send(oversized, &huge, 4, 0);
    EXPECT_TRUE(closedByServer(oversized, std::chrono::milliseconds(2000)));

    // Garbage inside a well-formed frame is answered with an error reply, not a close.
    const int garbage = rawConnection(server.server.port());
    const std::string frame = protocol::encodeFrame(7, "garbage");
    ::send(garbage, frame.data(), frame.size(), 0);
    protocol::FrameReader reader;
    char buffer[4096];
    std::optional<protocol::Frame> reply;
    while (!reply) {
        const ssize_t n = ::recv(garbage, buffer, sizeof buffer, 0);
        ASSERT_GT(n, 0);
        reader.feed(buffer, static_cast<std::size_t>(n));
        reply = reader.next();
    }
    EXPECT_EQ(reply->packetId, 7);
    protocol::PacketView view;
    ASSERT_EQ(view.decode(reply->packet), protocol::DecodeStatus::Ok);
    EXPECT_NE(view.returnCode(), 0);

    // A client that stops in the middle of a frame is dropped after the stall time-out,
    // and one that disconnects there costs nothing.
    const int stalled = rawConnection(server.server.port());
    const std::string half = protocol::encodeFrame(8, std::string(100, 'x')).substr(0, 50);
    ::send(stalled, half.data(), half.size(), 0);
    EXPECT_TRUE(closedByServer(stalled, std::chrono::milliseconds(3000)));
    const int quitter = rawConnection(server.server.port());
    ::send(quitter, half.data(), half.size(), 0);
    ::close(quitter);

    // The well-behaved counter was never disturbed.
    auto ok = receive(com, send(com));
    EXPECT_EQ(get(ok, Variant("int_config")).toInteger(), 8);
    EXPECT_GE(server.server.dropped(), 3u);
    for (int fd : {tooShort, oversized, garbage, stalled})
        ::close(fd);
}

// What the module makes of a failing status: the host's description, then the status.
std::string raised(HRESULT status, const char* operation) {
    try {
        check(status, operation);
    } catch (const EHostError& e) {
        return e.what();
    }
    return {};
}

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

TEST_F(TransportTest, TcpTransportConnectsAgainOnTheRequestAfterTheServerCameBack) {
    const std::string transcript = dir.filePath("transcript.jsonl").toStdString();
    auto server = std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000));
    const std::uint16_t port = server->server.port();
    auto com =
        HostPtr<IARCom>::adopt(new counter::ARCom(std::make_unique<counter::TranscriptTransport>(
            std::make_unique<counter::TcpTransport>("127.0.0.1", port), transcript)));
    login(com);
    receive(com, send(com));
    server.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the counter sees it hang up

    // The server is gone: the request is refused at once, in words for the operator.
    const auto start = std::chrono::steady_clock::now();
    auto packer = newPacker();
    check(com->InitRequest(105006, packer.get()), "InitRequest");
    set(packer, "a", Variant("1"));
    Variant id;
    const HRESULT sent = com->Send(packed(packer), 1000, &id);
    EXPECT_EQ(sent, hr::transportBroken);
    EXPECT_EQ(raised(sent, "ARCom.Send"),
              "与后台的连接已断开，请稍后重试。\n(ARCom.Send failed with status 0x80041004)");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    // Asked again while the server is still away: refused again; the description is taken
    // with the error and not left for a later one.
    EXPECT_NE(raised(com->Send(packed(packer), 1000, &id), "ARCom.Send"), "");
    EXPECT_EQ(raised(hr::fail, "Reader.Open"), "Reader.Open failed with status 0x80004005");

    // Back on the same port: the next request connects again and is answered.
    server = std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000), port);
    auto reader = receive(com, send(com));
    EXPECT_EQ(get(reader, Variant("int_config")).toInteger(), 8);

    // The transcript has the refused requests with their failure, then the answered one.
    const auto written = lines(transcript);
    // (after the login and the first request with their replies)
    ASSERT_EQ(written.size(), 10u);
    EXPECT_EQ(written[5], "{\"dir\":\"failure\",\"packet\":3,\"status\":\"0x80041004\","
                          "\"error\":\"not sent\"}");
    EXPECT_NE(written[6].find("\"dir\":\"request\",\"packet\":4"), std::string::npos);
    EXPECT_NE(written[7].find("\"dir\":\"failure\",\"packet\":4"), std::string::npos);
    EXPECT_NE(written[9].find("\"dir\":\"reply\",\"packet\":5"), std::string::npos);
    EXPECT_THROW(counter::TcpTransport("127.0.0.1", 1), std::runtime_error);
}

// A counter whose login is refused when it connects again (here its password was changed
// meanwhile) is told so on its request, not that nobody is logged in.
TEST_F(TransportTest, ARefusedReplayedLoginSaysWhy) {
    auto server = std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000));
    const std::uint16_t port = server->server.port();
    auto com = HostPtr<IARCom>::adopt(
        new counter::ARCom(std::make_unique<counter::TcpTransport>("127.0.0.1", port)));
    login(com);
    receive(com, send(com));
    server.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        backoffice::Database db(dir.filePath("office.db").toStdString());
        db.prepare("UPDATE operator SET password_hash = ? WHERE operator_no = '1001'")
            .bind(1, backoffice::Passwords::hash("changed"))
            .run();
    }
    server = std::make_unique<ServerThread>(*service, std::chrono::milliseconds(5000), port);
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto reader = receive(com, send(com));
        EXPECT_EQ(count(&IUnpackerDisp::ReturnCode, reader), 1012);
        EXPECT_EQ(get(reader, Variant("error_info")).toText(),
                  "重新登录未成功：操作员[1001]密码错误");
    }
}

// A loopback listener that takes one request per connection and then hangs up unanswered.
class HangingUpServer {
public:
    HangingUpServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_, 4), 0);
        socklen_t size = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~HangingUpServer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::uint16_t port() const { return port_; }
    // Connections made and request frames read so far.
    int connections() const { return connections_; }
    int requests() const { return requests_; }

private:
    void serve() {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            ++connections_;
            protocol::FrameReader reader;
            char buffer[4096];
            bool request = false;
            for (ssize_t n; !(request = reader.next().has_value()) &&
                            (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                reader.feed(buffer, static_cast<std::size_t>(n));
            requests_ += request;
            ::close(fd);
        }
    }

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

TEST_F(TransportTest, ARequestThatMayHaveReachedTheServerFailsAndIsNotSentAgain) {
    HangingUpServer server;
    auto com = HostPtr<IARCom>::adopt(
        new counter::ARCom(std::make_unique<counter::TcpTransport>("127.0.0.1", server.port())));
    Variant data;
    const HRESULT status = com->Receive(send(com), 5000, &data);
    EXPECT_EQ(status, hr::transportBroken);
    EXPECT_EQ(raised(status, "ARCom.Receive"),
              "与后台的连接已断开，本次业务可能未完成，请查询确认后再重试。\n"
              "(ARCom.Receive failed with status 0x80041004)");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(server.connections(), 1); // nothing went again behind the operator's back
    EXPECT_EQ(server.requests(), 1);

    // The operator repeats it: a new connection carries it.
    EXPECT_EQ(com->Receive(send(com), 5000, &data), hr::transportBroken);
    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(server.requests(), 2);
}

// A loopback server that answers each request frame with the bytes a test makes of it, one
// connection at a time.
class AnsweringServer {
public:
    explicit AnsweringServer(std::function<std::string(const protocol::Frame&)> answer)
        : answer_(std::move(answer)) {
        thread_ = std::thread([this] { serve(); });
    }
    ~AnsweringServer() {
        ::shutdown(listener_.fd(), SHUT_RDWR);
        thread_.join();
    }
    std::uint16_t port() const { return listener_.port(); }

private:
    // A listener on a free port that accept() can be woken from.
    class Listener {
    public:
        Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
            EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            EXPECT_EQ(::listen(fd_, 4), 0);
            socklen_t size = sizeof address;
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
            port_ = ntohs(address.sin_port);
        }
        ~Listener() { ::close(fd_); }
        int fd() const { return fd_; }
        std::uint16_t port() const { return port_; }

    private:
        int fd_;
        std::uint16_t port_ = 0;
    };

    void serve() {
        for (int fd; (fd = ::accept(listener_.fd(), nullptr, nullptr)) >= 0; ::close(fd)) {
            protocol::FrameReader reader;
            char buffer[4096];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                reader.feed(buffer, static_cast<std::size_t>(n));
                while (auto frame = reader.next()) {
                    const std::string out = answer_(*frame);
                    for (std::size_t sent = 0; sent < out.size();) {
                        const ssize_t k =
                            ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
                        if (k <= 0)
                            break;
                        sent += static_cast<std::size_t>(k);
                    }
                }
            }
        }
    }

    Listener listener_;
    std::function<std::string(const protocol::Frame&)> answer_;
    std::thread thread_;
};

// The configuration reply the back office gives for branch 8.
std::string configReply() {
    protocol::PacketWriter w(105006, 0);
    w.addField("int_config", protocol::FieldType::Integer);
    w.beginRecord();
    w.integer(8);
    std::string packet;
    EXPECT_TRUE(w.finish(packet));
    return packet;
}

// A reply under a packet id no request awaits is thrown away and written down, never
// handed on; a reply that is no packet at all breaks the link, however large it is.
TEST_F(TransportTest, StrayRepliesAreDroppedAndBytesThatAreNoPacketBreakTheLink) {
    const std::string transcript = dir.filePath("transcript.jsonl").toStdString();
    std::atomic<int> answered{0};
    AnsweringServer server([&](const protocol::Frame& request) {
        if (++answered == 1)
            return protocol::encodeFrame(999, configReply()) +
                   protocol::encodeFrame(request.packetId, configReply());
        return protocol::encodeFrame(request.packetId, std::string(16u << 20, 'x'));
    });
    auto* arcom = new counter::ARCom(std::make_unique<counter::TranscriptTransport>(
        std::make_unique<counter::TcpTransport>("127.0.0.1", server.port()), transcript));
    auto com = HostPtr<IARCom>::adopt(arcom);
    auto reader = receive(com, send(com));
    EXPECT_EQ(get(reader, Variant("int_config")).toInteger(), 8);
    EXPECT_EQ(arcom->droppedReplies(), 1u);
    const auto written = lines(transcript);
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[1],
              "{\"dir\":\"dropped\",\"packet\":999,\"error\":\"no request awaits this packet\"}");
    EXPECT_NE(written[2].find("\"dir\":\"reply\",\"packet\":1,"), std::string::npos);

    Variant data;
    const HRESULT status = com->Receive(send(com), 10000, &data);
    EXPECT_EQ(status, hr::transportBroken);
    EXPECT_EQ(data.kind(), Variant::Kind::Empty);
}

// The counter holds a connection nobody is logged in on only while a request is on it:
// the server's room for connections not yet logged in is not spent on a counter whose
// operator is still typing.
TEST_F(TransportTest, TheCounterHoldsNoConnectionWithoutALogin) {
    ServerThread server(*service, std::chrono::milliseconds(5000));
    const auto settles = [&](std::size_t connections) {
        const auto start = std::chrono::steady_clock::now();
        while (server.server.connections() != connections &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return server.server.connections() == connections;
    };
    auto com = HostPtr<IARCom>::adopt(new counter::ARCom(
        std::make_unique<counter::TcpTransport>("127.0.0.1", server.server.port())));
    EXPECT_TRUE(settles(0)) << "the connection made at start-up was kept without a login";
    EXPECT_EQ(loginWith(com, "wrong"), 1012);
    EXPECT_TRUE(settles(0)) << "a refused login kept its connection";
    login(com);
    auto reader = receive(com, send(com));
    EXPECT_EQ(get(reader, Variant("int_config")).toInteger(), 8);
    EXPECT_EQ(server.server.connections(), 1u);
}

TEST_F(TransportTest, ATimeOutIsDescribedAndWritten) {
    const std::string transcript = dir.filePath("transcript.jsonl").toStdString();
    auto com =
        HostPtr<IARCom>::adopt(new counter::ARCom(std::make_unique<counter::TranscriptTransport>(
            std::make_unique<counter::EmbeddedTransport>(service), transcript)));
    Variant data;
    const HRESULT status = com->Receive(send(com, 1), 100, &data);
    EXPECT_EQ(status, hr::timeout);
    EXPECT_EQ(raised(status, "ARCom.Receive"),
              "后台在 1 秒内没有应答，本次业务可能未完成，请查询确认后再重试。\n"
              "(ARCom.Receive failed with status 0x80041002)");
    const auto written = lines(transcript);
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(written[1], "{\"dir\":\"failure\",\"packet\":1,\"status\":\"0x80041002\","
                          "\"error\":\"no reply in time\"}");
}

// A loopback port where connections are taken into the backlog and never answered: connect
// succeeds, a TLS handshake waits for ever.
class SilentListener {
public:
    explicit SilentListener(std::uint16_t port = 0) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        const int yes = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(fd_, 8), 0);
        socklen_t size = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    std::uint16_t port() const { return port_; }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

// Against a server that accepts and never answers, connecting ends at its deadline, at
// start-up and again on a request after the link broke, and the counter's wait pump runs
// all the while, so its windows paint.
TEST_F(TransportTest, ConnectingHasADeadlineAndTheWaitPaints) {
    const std::string cert = dir.filePath("server.pem").toStdString();
    const std::string key = dir.filePath("server.key").toStdString();
    backoffice::makeSelfSignedCertificate(cert, key, {});
    int pumped = 0;
    const auto pump = [&] { ++pumped; };
    {
        SilentListener silent;
        counter::BackOfficeAddress address{"127.0.0.1", silent.port(), true, cert};
        address.connectTimeout = std::chrono::milliseconds(600);
        const auto start = std::chrono::steady_clock::now();
        try {
            counter::TcpTransport hanging(address, pump);
            ADD_FAILURE() << "a server that never answered was taken";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("within the connect time-out (TLS handshake)"),
                      std::string::npos)
                << e.what();
        }
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(550));
        EXPECT_LT(took, std::chrono::seconds(3));
        EXPECT_GE(pumped, 10);
    }

    backoffice::TcpServer::Options options;
    options.certificateFile = cert;
    options.keyFile = key;
    auto server = std::make_unique<backoffice::TcpServer>(*service, options);
    const std::uint16_t port = server->port();
    std::thread serving([&] { server->run(); });
    counter::BackOfficeAddress address{"127.0.0.1", port, true, cert};
    address.connectTimeout = std::chrono::milliseconds(600);
    auto com = HostPtr<IARCom>::adopt(
        new counter::ARCom(std::make_unique<counter::TcpTransport>(address, pump)));
    login(com);
    receive(com, send(com));
    server->stop();
    serving.join();
    server.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the counter sees it hang up

    SilentListener silent(port);
    pumped = 0;
    const auto start = std::chrono::steady_clock::now();
    auto packer = newPacker();
    check(com->InitRequest(105006, packer.get()), "InitRequest");
    set(packer, "a", Variant("1"));
    Variant id;
    const HRESULT sent = com->Send(packed(packer), 1000, &id);
    EXPECT_EQ(sent, hr::transportBroken);
    EXPECT_EQ(raised(sent, "ARCom.Send"),
              "与后台的连接已断开，请稍后重试。\n(ARCom.Send failed with status 0x80041004)");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(550));
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_GE(pumped, 10);
}

// 64 addresses each open a connection to the training room's TLS server, never start the
// handshake, and open it again whenever the server closes it at the handshake limit.
// Counters still connect with their own transport and log in.
TEST_F(TransportTest, StrangersThatNeverStartTlsKeepNoCounterOut) {
    const std::string cert = dir.filePath("server.pem").toStdString();
    const std::string key = dir.filePath("server.key").toStdString();
    backoffice::makeSelfSignedCertificate(cert, key, {});
    backoffice::TcpServer::Options options;
    options.certificateFile = cert;
    options.keyFile = key;
    options.frameTimeout = std::chrono::milliseconds(1000); // more turns within the test
    backoffice::TcpServer server(*service, options);
    std::thread serving([&] { server.run(); });

    std::atomic<bool> stop{false};
    std::atomic<int> connects{0};
    std::thread strangers([&] {
        std::vector<int> held(64, -1);
        const auto open = [&](std::size_t i) {
            if (held[i] >= 0)
                ::close(held[i]);
            held[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            const std::string source = "127.0.1." + std::to_string(1 + i);
            ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
            ::bind(held[i], reinterpret_cast<sockaddr*>(&local), sizeof local);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(server.port());
            ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
            ::connect(held[i], reinterpret_cast<sockaddr*>(&to), sizeof to);
            ++connects;
        };
        for (std::size_t i = 0; i < held.size(); ++i)
            open(i);
        while (!stop) {
            std::vector<pollfd> fds;
            for (int fd : held)
                fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 50) > 0) {
                for (std::size_t i = 0; i < fds.size(); ++i) {
                    if (fds[i].revents != 0)
                        open(i);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        for (int fd : held)
            ::close(fd);
    });
    const auto start = std::chrono::steady_clock::now();
    while (server.connections() < 64 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(
        std::chrono::milliseconds(1500)); // the server has closed them once at least

    int loggedIn = 0;
    std::string failures;
    for (int c = 0; c < 10; ++c) {
        try {
            counter::BackOfficeAddress address{"127.0.0.1", server.port(), true, cert};
            auto com = HostPtr<IARCom>::adopt(
                new counter::ARCom(std::make_unique<counter::TcpTransport>(address, [] {})));
            loggedIn += loginWith(com, "pass1001") == 0;
        } catch (const std::exception& e) {
            failures += "counter " + std::to_string(c) + ": " + e.what() + "\n";
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(50)); // its connection is gone before the next logs in
    }
    stop = true;
    strangers.join();
    server.stop();
    serving.join();
    EXPECT_GE(loggedIn, 9) << failures;
    EXPECT_GT(connects.load(), 64);
}

TEST_F(TransportTest, TlsChecksTheServerAgainstTheGivenCertificate) {
    const std::string cert = dir.filePath("server.pem").toStdString();
    const std::string key = dir.filePath("server.key").toStdString();
    const std::string other = dir.filePath("other.pem").toStdString();
    backoffice::makeSelfSignedCertificate(cert, key, {"office.local"});
    backoffice::makeSelfSignedCertificate(other, dir.filePath("other.key").toStdString(), {});
    backoffice::TcpServer::Options options;
    options.certificateFile = cert;
    options.keyFile = key;
    options.frameTimeout = std::chrono::milliseconds(500);
    backoffice::TcpServer server(*service, options);
    std::thread serving([&] { server.run(); });

    auto com = HostPtr<IARCom>::adopt(new counter::ARCom(std::make_unique<counter::TcpTransport>(
        counter::BackOfficeAddress{"127.0.0.1", server.port(), true, cert})));
    login(com);
    auto first = receive(com, send(com));
    EXPECT_EQ(get(first, Variant("int_config")).toInteger(), 8);

    // A server that is not the one of the certificate is refused, with the reason.
    try {
        counter::TcpTransport wrong({"127.0.0.1", server.port(), true, other});
        ADD_FAILURE() << "a server with another certificate was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("is not the one of the certificate " + other),
                  std::string::npos)
            << e.what();
    }
    // So is a name the certificate does not carry.
    EXPECT_THROW(counter::TcpTransport({"localhost.localdomain", server.port(), true, cert}),
                 std::runtime_error);
    // A client that connects and never finishes the handshake is closed.
    const int silent = rawConnection(server.port());
    EXPECT_TRUE(closedByServer(silent, std::chrono::milliseconds(3000)));
    ::close(silent);
    // The counter that was let in is still served.
    auto again = receive(com, send(com));
    EXPECT_EQ(get(again, Variant("int_config")).toInteger(), 8);
    server.stop();
    serving.join();
}

TEST_F(TransportTest, ClearTcpStaysOnThisMachine) {
    backoffice::TcpServer::Options options;
    options.host = "0.0.0.0";
    try {
        backoffice::TcpServer server(*service, options);
        ADD_FAILURE() << "clear TCP was served beyond loopback";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("loopback"), std::string::npos) << e.what();
    }
    try {
        counter::TcpTransport transport("192.0.2.1", 7001);
        ADD_FAILURE() << "clear TCP was used beyond this machine";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("tls://192.0.2.1:7001"), std::string::npos)
            << e.what();
    }
}

TEST_F(TransportTest, TranscriptKeepsTypesAndMasksPasswords) {
    const std::string path = dir.filePath("transcript.jsonl").toStdString();
    {
        auto com = HostPtr<IARCom>::adopt(
            new counter::ARCom(std::make_unique<counter::TranscriptTransport>(
                std::make_unique<counter::EmbeddedTransport>(service), path)));
        login(com);
        receive(com, send(com));
    }
    std::ifstream in(path);
    std::string loginRequest;
    std::string loginReply;
    std::string request;
    std::string reply;
    std::getline(in, loginRequest);
    std::getline(in, loginReply);
    std::getline(in, request);
    std::getline(in, reply);
    EXPECT_NE(loginRequest.find("[\"password\",\"***\"]"), std::string::npos) << loginRequest;
    EXPECT_EQ(loginRequest.find("pass1001"), std::string::npos);
    EXPECT_EQ(request,
              "{\"dir\":\"request\",\"packet\":2,\"function\":105006,\"fields\":["
              "[\"op_branch_no\",8],[\"operator_no\",\"1001\"],[\"op_password\",\"***\"],"
              "[\"op_station\",\"test\"],[\"op_entrust_way\",\"4\"],[\"function_id\",105006],"
              "[\"branch_no\",8],[\"config_no\",1129]]}");
    EXPECT_EQ(reply, "{\"dir\":\"reply\",\"packet\":2,\"return_code\":0,\"fields\":[\"config_no\","
                     "\"branch_no\",\"int_config\"],\"records\":[[1129,8,8]]}");
    EXPECT_EQ(request.find("pass1001"), std::string::npos);
}

TEST(Transcript, MasksPasswordFieldsWhateverTheirCase) {
    protocol::PacketWriter w(100001, 0);
    const char* names[] = {"Password", "OP_PASSWORD", "trade_pwd", "PwdNew", "operator_no"};
    for (const char* name : names)
        w.addField(name, protocol::FieldType::Text);
    w.beginRecord();
    for (const char* name : names)
        w.text(std::string("secret-") + name);
    std::string packet;
    ASSERT_TRUE(w.finish(packet));
    EXPECT_EQ(counter::transcriptRequest(3, packet),
              "{\"dir\":\"request\",\"packet\":3,\"function\":100001,\"fields\":["
              "[\"Password\",\"***\"],[\"OP_PASSWORD\",\"***\"],[\"trade_pwd\",\"***\"],"
              "[\"PwdNew\",\"***\"],[\"operator_no\",\"secret-operator_no\"]]}");
}

TEST(TcpAddress, ParsesTcpAndTlsHostPort) {
    counter::BackOfficeAddress address;
    EXPECT_TRUE(counter::parseBackOfficeAddress("tcp://127.0.0.1:7001", address));
    EXPECT_EQ(address.host, "127.0.0.1");
    EXPECT_EQ(address.port, 7001);
    EXPECT_FALSE(address.tls);
    EXPECT_TRUE(counter::parseBackOfficeAddress("tls://office.local:7002", address));
    EXPECT_EQ(address.host, "office.local");
    EXPECT_EQ(address.port, 7002);
    EXPECT_TRUE(address.tls);
    for (const char* bad : {"127.0.0.1:7001", "tcp://:7001", "tcp://h:", "tcp://h:99999",
                            "tcp://h:7a", "udp://h:1", "tls://:1"})
        EXPECT_FALSE(counter::parseBackOfficeAddress(bad, address)) << bad;
}
