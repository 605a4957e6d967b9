#pragma once
// The VIP changes themselves, each inside the caller's write transaction after its checks:
// open adds the client's row and entrust way 'Z', close removes both, modify sets the
// rate. A change that finds nothing to change raises the ServiceError that says why, so
// the transaction, and any review approval it used, is rolled back.

#include "Database.h"
#include "Records.h"

#include <cstdint>
#include <string>

namespace backoffice {

// A discount rate: a decimal in (0, 1] with at most two decimals, as "0.85" or "1"; a
// ServiceError says what is wrong with another.
double parseRate(const std::string& text);

void openVip(Database& db, const FundAccountRow& account, double rate,
             const std::string& operatorNo);
void closeVip(Database& db, const FundAccountRow& account);
void modifyVip(Database& db, std::int64_t fundAccount, double rate);

} // namespace backoffice
