#pragma once
// The four-eyes rule: configurable rules decide which requests need a second operator;
// such a request is answered with a review demand that records what is to be reviewed,
// and is carried out only when resent, unchanged and in time, against a process that
// another operator with the right to review has approved. An approval is used once.

#include "BackOffice.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace backoffice {

// Where a review process stands, kept as its one character in review_process.status (the
// schema allows these and no others).
enum class ReviewStatus : char {
    Waiting = '0',         // for a reviewer
    Approved = '1',        // waiting for its resend
    Used = '2',            // by the resent request
    ApprovalExpired = '3', // approved, and not used in time
    Void = '4',            // after too many wrong reviewer passwords
    WaitingExpired = '5',  // pushed out by newer demands of its operator
};

// The status as the database keeps it.
constexpr std::string_view statusCode(ReviewStatus status) {
    constexpr std::string_view codes = "012345";
    return codes.substr(static_cast<std::size_t>(static_cast<char>(status) - '0'), 1);
}

// What the review gate decided: go on to the handler, or answer with the refusal (the
// review demand 360415 among them).
struct ReviewDecision {
    std::optional<ServiceError> refusal;
};

// Runs before the handler of a reviewable function, in the write transaction dispatch
// opened for it (ctx.transaction), and never commits: what it decided is written there. A
// resend (audit_action "2") uses up its approved process, or is refused. Otherwise, when a
// rule applies, the review process is recorded and the demand returned (error_info
// "<text>,<process id>,<default reviewer>"). A rate rule applies to every request that
// sets a rate. A demand past the operator's open reviews expires his oldest waiting ones.
ReviewDecision reviewGate(HandlerContext& ctx, const FunctionRule& rule);

// The names of the fields a review of the function records: the header fields the back
// office reads, then the function's own.
std::vector<std::string_view> reviewedFieldNames(const FunctionRule& rule);

// What a review process records of its request: the fields of reviewedFieldNames that it
// carries, typed, in the request's order; never a password or audit_action. A longer
// record than a review may store is refused.
std::string reviewedFields(const protocol::PacketView& packet, const FunctionRule& rule);

// The most a review process stores of its request.
constexpr std::size_t maxReviewedBytes = 2048;

} // namespace backoffice
