#pragma once
// The journal: every change the back office makes and every event of the four-eyes rule
// and of password checking, one entry each, written in the transaction of what it records.
// Entries form a hash chain: each entry's hash covers its own content and the previous
// entry's hash, so an entry edited, removed or inserted afterwards breaks the chain there.

#include "Database.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace backoffice {

// The kinds of entry.
namespace journal {
inline constexpr char sync[] = "sync";                        // 730000
inline constexpr char vipOpen[] = "vip_open";                 // 730001
inline constexpr char vipClose[] = "vip_close";               // 730002
inline constexpr char vipModify[] = "vip_modify";             // 730003
inline constexpr char reviewDemanded[] = "review_demanded";   // a request needs a reviewer
inline constexpr char reviewApproved[] = "review_approved";   // 360042 granted
inline constexpr char reviewRefused[] = "review_refused";     // 360042 refused
inline constexpr char approvalUsed[] = "approval_used";       // by the resent request
inline constexpr char approvalExpired[] = "approval_expired"; // never used in time
inline constexpr char passwordWrong[] = "password_wrong";     // the operator's own password
inline constexpr char sourceSlowed[] = "source_slowed";       // a source must wait
inline constexpr char operatorBounded[] = "operator_bounded"; // his guesses are used up
// A login the throttle held back, or one of an operator disabled or without a password.
inline constexpr char loginRefused[] = "login_refused";
inline constexpr char login[] = "login";   // an operator logged in
inline constexpr char logout[] = "logout"; // his session ended
// Administration commands; the entry's station is the administrator's login name.
inline constexpr char operatorAdded[] = "operator_add";
inline constexpr char operatorChanged[] = "operator_set";
inline constexpr char operatorDisabled[] = "operator_disable";
inline constexpr char operatorEnabled[] = "operator_enable";
inline constexpr char passwordSet[] = "operator_passwd";
inline constexpr char clientImported[] = "client_import";
inline constexpr char databaseRestored[] = "database_restore";
// An administrator lifted the bound on guesses at an operator.
inline constexpr char operatorReleased[] = "operator_released";
// A review process waited while its operator's newer demands pushed it out.
inline constexpr char reviewExpired[] = "review_expired";
} // namespace journal

// The operator's words for a kind of entry; the kind itself when it has none.
std::string journalEventText(const std::string& event);

struct JournalEntry {
    std::int64_t entryNo = 0;    // given by the journal
    std::int64_t occurredAt = 0; // seconds since 1970; now when 0
    std::string event;
    std::string operatorNo;
    std::int64_t branchNo = 0;
    std::string station; // the workstation (op_station), as the counter says
    std::string source;  // the peer address the server saw; "local" in the counter
    std::int64_t functionId = 0;
    std::string clientId;
    std::int64_t fundAccount = 0;
    std::string rateBefore; // "0.50", or empty
    std::string rateAfter;
    std::int64_t processId = 0; // the review process, or 0
    std::string reviewer;       // default reviewer, approver or refused reviewer
    std::string detail;
    std::string prevHash; // hex, given by the journal
    std::string hash;
};

// A column of the journal table, in the table's order: its name, the entry's field it holds
// (a number or a text), the report's heading (none for the previous hash) and the name a JSON
// line gives it. The first journalContentColumns are the content an entry's hash covers, in
// the order it covers them; the chain's two hashes follow.
struct JournalColumn {
    const char* name;
    std::int64_t JournalEntry::*number = nullptr;
    std::string JournalEntry::*text = nullptr;
    const char* heading = nullptr;
    const char* jsonName = nullptr;
    bool rate = false; // a discount rate, "0.45" or empty
};
inline constexpr std::size_t journalContentColumns = 15;
inline constexpr std::array<JournalColumn, journalContentColumns + 2> journalColumns{{
    {"entry_no", &JournalEntry::entryNo, nullptr, "序号", "entry_no"},
    {"occurred_at", &JournalEntry::occurredAt, nullptr, "时间", "time"},
    {"event", nullptr, &JournalEntry::event, "事件", "event"},
    {"operator_no", nullptr, &JournalEntry::operatorNo, "操作员", "operator_no"},
    {"op_branch_no", &JournalEntry::branchNo, nullptr, "营业部", "branch_no"},
    {"op_station", nullptr, &JournalEntry::station, "站点", "op_station"},
    {"source", nullptr, &JournalEntry::source, "来源", "source"},
    {"function_id", &JournalEntry::functionId, nullptr, "功能号", "function_id"},
    {"client_id", nullptr, &JournalEntry::clientId, "客户号", "client_id"},
    {"fund_account", &JournalEntry::fundAccount, nullptr, "资金账户", "fund_account"},
    {"rate_before", nullptr, &JournalEntry::rateBefore, "原折扣", "rate_before", true},
    {"rate_after", nullptr, &JournalEntry::rateAfter, "新折扣", "rate_after", true},
    {"process_id", &JournalEntry::processId, nullptr, "复核流程", "process_id"},
    {"reviewer", nullptr, &JournalEntry::reviewer, "复核柜员", "reviewer"},
    {"detail", nullptr, &JournalEntry::detail, "说明", "detail"},
    {"prev_hash", nullptr, &JournalEntry::prevHash, nullptr, "prev_hash"},
    {"entry_hash", nullptr, &JournalEntry::hash, "哈希", "entry_hash"},
}};

// Appends the entry inside the caller's open write transaction (a DatabaseError when there
// is none): it commits or rolls back with the change it records.
void appendJournal(Database& db, JournalEntry entry);

// A discount rate as the journal writes it: "0.45".
std::string journalRate(double rate);

struct JournalCheck {
    std::int64_t checked = 0; // entries that held, in order, before any break
    std::string headHash;     // the last good entry's hash
    std::int64_t headNo = 0;  // and its number
    // Whether the chain is sealed with the database's key (a journal of a version without a
    // key is not, until a back office of this version opens it).
    bool keyed = false;
    // The first break, when there is one.
    std::optional<std::int64_t> brokenAt; // the entry number where the chain breaks
    // "edited", "removed" or "inserted"; "tables" when the chain holds but the tables say
    // otherwise (a change, a sync or a review demand that has no entry, or the other way)
    std::string how;
    std::string explanation; // in the operator's words
};

// A head of the chain kept outside the database: the entry number and its hash, written
// "N:HASH".
struct JournalCheckpoint {
    std::int64_t entryNo = 0;
    std::string hash;
};
std::string formatJournalCheckpoint(const JournalCheckpoint& checkpoint);
std::optional<JournalCheckpoint> parseJournalCheckpoint(const std::string& text);
// The last entry; entry 0 with an empty hash when there is none.
JournalCheckpoint journalHead(Database& db);

// Walks the whole chain, then holds the tables to it (the VIP rates, the sync requests and the
// review demands since the key was made) and, when given, to a checkpoint kept elsewhere. A
// journal sealed with a key that is missing is a JournalKeyError: it cannot be checked.
JournalCheck verifyJournal(Database& db, const std::optional<JournalCheckpoint>& expect = {});

struct JournalFilter {
    std::optional<std::int64_t> since; // seconds since 1970, inclusive
    std::optional<std::int64_t> until; // inclusive
    std::string operatorNo;            // the operator or the reviewer of an entry
    std::string clientId;
    std::optional<std::int64_t> fundAccount;
};

std::vector<JournalEntry> readJournal(Database& db, const JournalFilter& filter);

// Whether the database has a journal at all (an earlier version's file may not, until a
// back office of this version opens it).
bool hasJournal(Database& db);

} // namespace backoffice
