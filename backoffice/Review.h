#pragma once
// The four-eyes rule: configurable rules decide which requests need a second operator;
// such a request is answered with a review demand and carried out only when resent
// against a process that another operator with the right to review has approved.

#include "BackOffice.h"

#include <cstdint>
#include <optional>

namespace backoffice {

// For a request that may be carried out, the approved process it uses up (0 when no
// review is involved). Otherwise raises the review demand (360415, with error_info
// "<text>,<process id>,<default reviewer>") or the refusal of an unreviewed resend.
std::int64_t checkReview(HandlerContext& ctx, std::int64_t fundAccount, std::optional<double> rate);

// Marks the process used; called inside the business request's transaction.
void useReview(Database& db, std::int64_t processId);

} // namespace backoffice
