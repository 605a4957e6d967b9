#pragma once
// What a serving back office shows `marlo-backoffice status`: who is logged in on which
// connection and since when, and the requests and refusals of each function. The server
// keeps it here and publishes it beside its database (DB.status, the owner's only), so the
// command reads it without a connection of its own to the server.

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace backoffice {

struct LoggedInSession {
    std::string operatorNo;
    std::string source;
    std::time_t since = 0;
};

struct FunctionCounts {
    std::uint64_t requests = 0;
    std::uint64_t refusals = 0; // replies with an error
};

struct ServerSnapshot {
    long pid = 0;
    std::time_t started = 0;
    std::string version;
    std::string listen;      // tls://HOST:PORT
    std::string certificate; // the certificate file, or empty for clear TCP
    std::int64_t guessesPerHour = 0;
    std::vector<LoggedInSession> sessions;
    std::map<std::int32_t, FunctionCounts> functions;
};

std::string formatServerSnapshot(const ServerSnapshot& snapshot);
// Nothing for a text that is not a snapshot.
std::optional<ServerSnapshot> parseServerSnapshot(const std::string& text);
// Where a server serving `db` publishes its snapshot.
std::string serverSnapshotPath(const std::string& db);

// Shared by the server's sessions; safe from any thread.
class SessionRegistry {
public:
    explicit SessionRegistry(ServerSnapshot about) : about_(std::move(about)) {}
    // A connection's session, by a number of the registry's.
    std::uint64_t open();
    // The operator logged in on it now (empty: nobody), after each request.
    void update(std::uint64_t session, const std::string& operatorNo, const std::string& source);
    void close(std::uint64_t session);
    void count(std::int32_t functionNo, bool refused);
    ServerSnapshot snapshot() const;
    // Writes the snapshot, owner-readable only, replacing the last one whole. False when it
    // could not.
    bool publish(const std::string& path) const;
    // Whether anything changed since the last publish.
    bool changed() const;
    void setListen(const std::string& listen);
    // Set when the configuration is read again.
    void setCertificate(const std::string& certificate);

private:
    mutable std::mutex mutex_;
    ServerSnapshot about_;
    std::uint64_t next_ = 0;
    std::map<std::uint64_t, LoggedInSession> sessions_;
    mutable bool changed_ = true;
};

} // namespace backoffice
