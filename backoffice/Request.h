#pragma once
// What a handler reads from a request and how it answers: typed field access that turns a
// missing or wrong-typed field into an error reply, and the reply packets themselves.

#include "protocol/Numbers.h"
#include "protocol/Packet.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace backoffice {

// The server number every error reply carries.
constexpr std::int32_t serverNo = 1;

// What one request may carry; a larger one is refused before anything of it is stored.
struct RequestLimits {
    static constexpr std::size_t maxRequestBytes = 256 * 1024;
    static constexpr std::size_t maxFieldBytes = 16 * 1024;
};

// Error numbers of the back office's replies, as the counter knows them too.
namespace errors = protocol::errors;

// A request the back office refuses; becomes an error reply.
class ServiceError : public std::runtime_error {
public:
    ServiceError(std::int32_t errorNo, const std::string& info)
        : std::runtime_error(info), errorNo_(errorNo) {}
    std::int32_t errorNo() const { return errorNo_; }

private:
    std::int32_t errorNo_;
};

class Request {
public:
    explicit Request(const protocol::PacketView& packet);

    std::int32_t functionNo() const { return packet_.functionNo(); }
    bool has(std::string_view name) const {
        checkListed(name);
        return packet_.indexOf(name) >= 0;
    }
    std::int64_t integer(std::string_view name) const;
    std::int32_t int32(std::string_view name) const;
    std::string text(std::string_view name) const;
    std::optional<std::string> optionalText(std::string_view name) const;
    const protocol::PacketView& packet() const { return packet_; }

    // From now on only these fields may be read (asked for with has() too): a read of any
    // other is a fault, so that a handler cannot act on a field its review did not record.
    void limitTo(std::vector<std::string_view> names) { listed_ = std::move(names); }

private:
    void checkListed(std::string_view name) const;
    std::size_t require(std::string_view name, protocol::FieldType type) const;
    const protocol::PacketView& packet_;
    std::optional<std::vector<std::string_view>> listed_;
};

// A read of a field the request was not limited to: a fault of the handler, not of the
// request, so it is answered as a server fault and logged.
class UnlistedField : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The error reply: error_no, error_svrno, error_info, with the return code given (the
// error number unless the caller says otherwise). An error_info that echoes a huge value
// is cut, so the reply always fits in a packet.
std::string errorReply(std::int32_t functionNo, std::int32_t errorNo, const std::string& info,
                       std::int32_t returnCode = 0);

// A finished packet from a writer; a writer over the limits gives a server fault reply.
std::string finishReply(protocol::PacketWriter& writer);

} // namespace backoffice
