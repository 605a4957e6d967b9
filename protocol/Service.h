#pragma once
// A back office as the counter's transports see it: a request packet in, a reply packet
// out.

#include <memory>
#include <string>
#include <string_view>

namespace protocol {

class PacketService {
public:
    virtual ~PacketService() = default;
    // Any bytes in; always a reply packet out. Safe to call from several threads.
    virtual std::string handle(std::string_view request) = 0;
};

// The back office on the SQLite file `dbPath`, which is created with the training data
// when it does not exist. Provided by the back-office library.
std::unique_ptr<PacketService> openBackOfficeService(const std::string& dbPath);

} // namespace protocol
