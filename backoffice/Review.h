#pragma once
// The four-eyes rule: configurable rules decide which requests need a second operator;
// such a request is answered with a review demand that records what is to be reviewed,
// and is carried out only when resent, unchanged and in time, against a process that
// another operator with the right to review has approved. An approval is used once.

#include "BackOffice.h"

#include <cstdint>
#include <optional>

namespace backoffice {

// Called inside the business request's write transaction `t`. A resend (audit_action "2")
// uses up its approved process there, or is refused. Otherwise, when a rule applies, the
// review process is recorded and committed in `t` and the review demand is raised
// (360415, with error_info "<text>,<process id>,<default reviewer>"). A rate rule applies
// to every request that sets a rate.
void checkReview(HandlerContext& ctx, Transaction& t, std::int64_t fundAccount,
                 std::optional<double> rate);

// What a review process records of its request: every field but the passwords and
// audit_action, typed, in the request's order.
std::string reviewedFields(const protocol::PacketView& packet);

} // namespace backoffice
