#pragma once
// What a handler reads from a request and how it answers: typed field access that turns a
// missing or wrong-typed field into an error reply, and the reply packets themselves.

#include "protocol/Packet.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace backoffice {

// The server number every error reply carries.
constexpr std::int32_t serverNo = 1;

// What one request may carry; a larger one is refused before anything of it is stored.
struct RequestLimits {
    static constexpr std::size_t maxRequestBytes = 256 * 1024;
    static constexpr std::size_t maxFieldBytes = 16 * 1024;
};

// Error numbers of the back office's replies.
namespace errors {
constexpr std::int32_t badRequest = 1001;
constexpr std::int32_t unknownFunction = 1002;
constexpr std::int32_t unknownOperator = 1011;
constexpr std::int32_t wrongPassword = 1012;
constexpr std::int32_t notLoggedIn = 1013;
constexpr std::int32_t notSessionOperator = 1014;
constexpr std::int32_t passwordThrottled = 1015;
constexpr std::int32_t unknownBranch = 1016;
constexpr std::int32_t busy = 1017;
constexpr std::int32_t tooLarge = 1018;
constexpr std::int32_t tooManyLogins = 1019;
constexpr std::int32_t unknownAccount = 2001;
constexpr std::int32_t unknownClient = 2002;
constexpr std::int32_t badRate = 3001;
constexpr std::int32_t alreadyVip = 3002;
constexpr std::int32_t notVip = 3003;
constexpr std::int32_t accountNotNormal = 3004;
constexpr std::int32_t reviewRequired = 360415;
constexpr std::int32_t noSuchProcess = 3601;
constexpr std::int32_t sameReviewer = 3602;
constexpr std::int32_t noReviewRight = 3603;
constexpr std::int32_t reviewerPassword = 3604;
constexpr std::int32_t notReviewed = 3605;
constexpr std::int32_t reviewExpired = 3606;
constexpr std::int32_t serverFault = 9999;
} // namespace errors

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
    bool has(std::string_view name) const { return packet_.indexOf(name) >= 0; }
    std::int64_t integer(std::string_view name) const;
    std::int32_t int32(std::string_view name) const;
    std::string text(std::string_view name) const;
    std::optional<std::string> optionalText(std::string_view name) const;
    const protocol::PacketView& packet() const { return packet_; }

private:
    std::size_t require(std::string_view name, protocol::FieldType type) const;
    const protocol::PacketView& packet_;
};

// The error reply: error_no, error_svrno, error_info, with the return code given (the
// error number unless the caller says otherwise). An error_info that echoes a huge value
// is cut, so the reply always fits in a packet.
std::string errorReply(std::int32_t functionNo, std::int32_t errorNo, const std::string& info,
                       std::int32_t returnCode = 0);

// A finished packet from a writer; a writer over the limits gives a server fault reply.
std::string finishReply(protocol::PacketWriter& writer);

} // namespace backoffice
