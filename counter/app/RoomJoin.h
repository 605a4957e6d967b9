#pragma once
// A counter joins a training room the way SSH hosts are trusted: it fetches the back
// office's certificate, holds it to the fingerprint the server's `marlo-backoffice status`
// shows, and pins it with the server's address in a file of the configuration's
// counter.conf.d folder.

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

namespace counter {

// A join that wrote nothing: the message says why, in the administrator's words.
class JoinError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ServerCertificate {
    std::string pem;
    std::string fingerprint;
};

// The certificate the server at HOST:PORT presents, trusted by nobody yet. Resolving,
// connecting and the handshake must be done within `timeout`. Throws JoinError.
ServerCertificate fetchServerCertificate(const std::string& host, std::uint16_t port,
                                         std::chrono::milliseconds timeout);

// Whether `given` names that fingerprint; the "SHA256:" in front may be left out.
bool sameFingerprint(const std::string& given, const std::string& fingerprint);

// The folder a join writes into: the system's configuration as root, the user's otherwise.
std::string defaultConfigBase();

// Writes BASE/counter.conf.d/room.conf (the address, and the certificate as its CA) and
// BASE/counter.conf.d/room.pem, each whole or not at all. Gives the .conf's path.
std::string writeRoomConfig(const std::string& base, const std::string& address,
                            const std::string& pem);

} // namespace counter
