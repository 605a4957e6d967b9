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

void openVip(Database& db, const FundAccountRow& account, double rate,
             const std::string& operatorNo);
void closeVip(Database& db, const FundAccountRow& account);
void modifyVip(Database& db, std::int64_t fundAccount, double rate);

} // namespace backoffice
