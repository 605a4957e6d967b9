#pragma once
// A back office on a fresh copy of the training database, served over loopback by the real
// server on a thread of its own, with a second back office on the file to look at it.

#include "BackOfficeFixture.h"

#include "OfficeService.h"
#include "TcpServer.h"

#include <memory>
#include <thread>

class ServedOfficeTest : public BackOfficeTest {
protected:
    void serve(backoffice::TcpServer::Options options = {},
               backoffice::OfficeOptions officeOptions = {}) {
        office.reset(); // the server's back office has the file to itself
        backOffice = std::make_shared<backoffice::BackOffice>(path, officeOptions);
        service = backoffice::serviceOf(backOffice);
        server = std::make_unique<backoffice::TcpServer>(*service, options);
        thread = std::thread([this] { server->run(); });
        office = std::make_unique<CounterOffice>(path); // to look at the database
    }
    void TearDown() override {
        if (server)
            server->stop();
        if (thread.joinable())
            thread.join();
        server.reset();
    }
    std::uint16_t port() const { return server->port(); }

    std::shared_ptr<backoffice::BackOffice> backOffice;
    std::unique_ptr<protocol::PacketService> service;
    std::unique_ptr<backoffice::TcpServer> server;
    std::thread thread;
};
