#include "TcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace backoffice {

namespace {

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

TcpServer::TcpServer(protocol::PacketService& service, Options options)
    : service_(service), options_(std::move(options)) {
    if (::pipe(wake_) != 0)
        fail("pipe");
    setNonBlocking(wake_[0]);
    setNonBlocking(wake_[1]);
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0)
        fail("socket");
    const int yes = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.host.c_str(), &address.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + options_.host);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("bind " + options_.host + ":" + std::to_string(options_.port));
    if (::listen(listen_, 64) != 0)
        fail("listen");
    socklen_t length = sizeof address;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    setNonBlocking(listen_);
}

TcpServer::~TcpServer() {
    for (auto& [fd, c] : open_)
        ::close(fd);
    ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void TcpServer::stop() {
    stopping_ = true;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(wake_[1], &byte, 1);
}

void TcpServer::run() {
    std::vector<pollfd> fds;
    while (!stopping_) {
        fds.clear();
        fds.push_back({wake_[0], POLLIN, 0});
        fds.push_back({listen_, POLLIN, 0});
        for (const auto& [fd, c] : open_)
            fds.push_back({fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        if (::poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR)
            fail("poll");
        if (fds[1].revents & POLLIN)
            accept();
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = 2; i < fds.size(); ++i) {
            const int fd = fds[i].fd;
            Connection& c = open_.at(fd);
            bool keep = true;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                keep = readFrom(fd, c);
            if (keep && (fds[i].revents & POLLOUT))
                keep = writeTo(fd, c);
            if (keep && c.reader.midFrame() && now - c.lastProgress > options_.stallTimeout) {
                ++dropped_;
                keep = false;
            }
            if (!keep)
                close(fd);
        }
    }
}

void TcpServer::accept() {
    for (;;) {
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        open_[fd].lastProgress = std::chrono::steady_clock::now();
        ++connections_;
    }
}

bool TcpServer::readFrom(int fd, Connection& c) {
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.lastProgress = std::chrono::steady_clock::now();
    c.reader.feed(buffer, static_cast<std::size_t>(n));
    while (auto frame = c.reader.next())
        c.out += protocol::encodeFrame(frame->packetId, service_.handle(frame->packet));
    if (c.reader.bad()) {
        ++dropped_;
        return false;
    }
    return writeTo(fd, c);
}

bool TcpServer::writeTo(int fd, Connection& c) {
    while (!c.out.empty()) {
        const ssize_t n = ::send(fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        c.out.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

void TcpServer::close(int fd) {
    ::close(fd);
    open_.erase(fd);
    --connections_;
}

} // namespace backoffice
