#pragma once
// Holds the tables to the journal: the VIP rates, undone entry by entry from the last change
// back to when the key was made, must give the rates the key recorded then; every sync request
// and every review demand since then has its entry, and every sync entry its request. A change
// written straight into a table, or an entry removed together with the table's change, shows.

#include "Database.h"
#include "Journal.h"
#include "JournalKey.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace backoffice {

struct JournalDisagreement {
    std::int64_t entryNo = 0; // the entry the table disagrees with; 0 when none in particular
    std::string explanation;  // in the operator's words
};

class JournalAgreement {
public:
    // Without a key (a journal of a version that had none) there is no state to start from,
    // and nothing is held.
    explicit JournalAgreement(const JournalKey* key) : key_(key) {}

    // Each entry of the chain, in order.
    void add(const JournalEntry& entry);
    std::optional<JournalDisagreement> check(Database& db) const;

private:
    struct VipChange {
        std::int64_t entryNo;
        std::string event;
        std::int64_t fundAccount;
        std::string rateBefore;
        std::string rateAfter;
    };
    std::optional<JournalDisagreement> checkVip(Database& db) const;
    std::optional<JournalDisagreement> checkSyncs(Database& db) const;
    std::optional<JournalDisagreement> checkReviews(Database& db) const;

    const JournalKey* key_;
    std::vector<VipChange> vipChanges_;
    std::set<std::int64_t> syncSerials_;
    std::set<std::int64_t> demandedProcesses_;
};

} // namespace backoffice
