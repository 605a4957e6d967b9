#pragma once
// A back-office server on loopback on its own thread, for as long as the object lives; a
// port of 0 takes any free one.

#include "TcpServer.h"

#include <chrono>
#include <cstdint>
#include <thread>

class ServerThread {
public:
    ServerThread(protocol::PacketService& service, std::chrono::milliseconds frameTimeout,
                 std::uint16_t port = 0)
        : server(service, options(frameTimeout, port)), thread([this] { server.run(); }) {}
    static backoffice::TcpServer::Options options(std::chrono::milliseconds frameTimeout,
                                                  std::uint16_t port = 0) {
        backoffice::TcpServer::Options o;
        o.port = port;
        o.frameTimeout = frameTimeout;
        o.maxLoginsPerOperator = 8;  // the tests' counters all log in as one operator
        o.maxStrangersPerSource = 8; // from one address, all at once
        // The counters' logins queue for the hash together; on a busy machine they wait
        // their turn rather than hear "busy", which the server's own tests cover.
        o.strangerWait = std::chrono::seconds(60);
        return o;
    }
    ~ServerThread() {
        server.stop();
        thread.join();
    }
    backoffice::TcpServer server;
    std::thread thread;
};
