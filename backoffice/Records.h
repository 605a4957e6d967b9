#pragma once
// Small reads of the back office's records that several handlers share.

#include "Database.h"

#include <cstdint>
#include <optional>
#include <string>

namespace backoffice {

struct FundAccountRow {
    std::int64_t fundAccount = 0;
    std::string clientId;
    std::int32_t branchNo = 0;
    std::string status;
    std::string entrustWays;
};

std::optional<FundAccountRow> loadFundAccount(Database& db, std::int64_t fundAccount);
bool clientExists(Database& db, const std::string& clientId);

} // namespace backoffice
