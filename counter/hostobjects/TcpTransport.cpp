#include "TcpTransport.h"

#include "protocol/Frame.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace counter {

TcpTransport::TcpTransport(const std::string& host, std::uint16_t port) : host_(host), port_(port) {
    open();
}

void TcpTransport::open() {
    const std::string& host = host_;
    const std::uint16_t port = port_;
    fd_ = -1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        throw std::runtime_error("unknown host " + host);
    fd_ = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    const bool connected = fd_ >= 0 && ::connect(fd_, found->ai_addr, found->ai_addrlen) == 0;
    const int error = errno;
    ::freeaddrinfo(found);
    if (!connected) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        throw std::runtime_error("cannot reach the back office at " + host + ":" +
                                 std::to_string(port) + ": " + std::strerror(error));
    }
    const int yes = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

TcpTransport::~TcpTransport() {
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RDWR);
    if (reader_.joinable())
        reader_.join();
    if (fd_ >= 0)
        ::close(fd_);
}

bool TcpTransport::reopen() {
    // The reader has ended (it reported the break); the old connection goes first.
    if (reader_.joinable())
        reader_.join();
    if (fd_ >= 0)
        ::close(fd_);
    try {
        open();
    } catch (const std::runtime_error&) {
        return false;
    }
    broken_ = false;
    reader_ = std::thread([this] { readReplies(); });
    return true;
}

void TcpTransport::connect(Callbacks callbacks) {
    callbacks_ = std::move(callbacks);
    reader_ = std::thread([this] { readReplies(); });
}

HRESULT TcpTransport::submit(std::int64_t packetId, std::string request) {
    const std::string frame = protocol::encodeFrame(packetId, request);
    std::lock_guard lock(sending_);
    if (broken_ && !reopen())
        return hr::transportBroken;
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return hr::transportBroken;
        sent += static_cast<std::size_t>(n);
    }
    return hr::ok;
}

void TcpTransport::readReplies() {
    protocol::FrameReader reader;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        reader.feed(buffer, static_cast<std::size_t>(n));
        while (auto frame = reader.next())
            callbacks_.deliver(frame->packetId, std::move(frame->packet));
        if (reader.bad())
            break;
    }
    broken_ = true;
    callbacks_.broken(hr::transportBroken);
}

bool parseTcpAddress(const std::string& address, std::string& host, std::uint16_t& port) {
    const std::string scheme = "tcp://";
    if (address.rfind(scheme, 0) != 0)
        return false;
    const std::string rest = address.substr(scheme.size());
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = rest.substr(0, colon);
    const std::string digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int value = std::stoi(digits);
    if (value <= 0 || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace counter
