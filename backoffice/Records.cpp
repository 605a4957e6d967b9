#include "Records.h"

namespace backoffice {

std::optional<FundAccountRow> loadFundAccount(Database& db, std::int64_t fundAccount) {
    Statement s = db.prepare("SELECT fund_account, client_id, branch_no, fundacct_status, "
                             "en_entrust_way FROM fund_account WHERE fund_account = ?");
    s.bind(1, fundAccount);
    if (!s.step())
        return std::nullopt;
    return FundAccountRow{s.integer(0), s.text(1), static_cast<std::int32_t>(s.integer(2)),
                          s.text(3), s.text(4)};
}

bool clientExists(Database& db, const std::string& clientId) {
    Statement s = db.prepare("SELECT 1 FROM client WHERE client_id = ?");
    s.bind(1, clientId);
    return s.step();
}

} // namespace backoffice
