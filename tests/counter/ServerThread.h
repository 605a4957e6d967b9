#pragma once
// A back-office server on loopback on its own thread, for as long as the object lives; a
// port of 0 takes any free one.

#include "TcpServer.h"

#include <chrono>
#include <cstdint>
#include <thread>

class ServerThread {
public:
    ServerThread(protocol::PacketService& service, std::chrono::milliseconds stall,
                 std::uint16_t port = 0)
        : server(service, {"127.0.0.1", port, stall}), thread([this] { server.run(); }) {}
    ~ServerThread() {
        server.stop();
        thread.join();
    }
    backoffice::TcpServer server;
    std::thread thread;
};
