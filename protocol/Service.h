#pragma once
// A back office as the counter's transports see it: a session per counter connection,
// each taking a request packet in and giving a reply packet out.

#include <memory>
#include <string>
#include <string_view>

namespace protocol {

// One counter's conversation with the back office: who logged in on it decides what it
// may do.
class PacketSession {
public:
    virtual ~PacketSession() = default;
    // Any bytes in; always a reply packet out. One call at a time per session.
    virtual std::string handle(std::string_view request) = 0;
    // Whether someone has logged in on the session; a server gives a connection that has
    // not a short deadline. Safe to ask from any thread.
    virtual bool loggedIn() const { return true; }
};

class PacketService {
public:
    virtual ~PacketService() = default;
    // A new session, before any login. Safe to call, and to use the sessions, from
    // several threads.
    virtual std::unique_ptr<PacketSession> openSession() = 0;
    // A new session for a counter at that network address: a service that throttles
    // password guesses per source tells its sessions apart by it.
    virtual std::unique_ptr<PacketSession> openSession(const std::string& peer) {
        (void)peer;
        return openSession();
    }
};

// The back office on the SQLite file `dbPath`, which is created with the training data
// when it does not exist. Provided by the back-office library.
std::unique_ptr<PacketService> openBackOfficeService(const std::string& dbPath);

} // namespace protocol
