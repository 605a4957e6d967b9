#pragma once
// The back office: answers every request packet with a reply packet, on one SQLite
// database. Bad input gets an error reply, never a crash and never a false success.
// Every request belongs to a session: the counter's login opens it, and afterwards only
// the logged-in operator's requests are carried out on it.

#include "Database.h"
#include "Journal.h"
#include "PasswordAttempt.h"
#include "Request.h"
#include "WritePacer.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace backoffice {

struct Operator {
    std::string operatorNo;
    std::string name;
    std::string kind;
    std::int32_t branchNo = 0;
    bool canReview = false;
    std::string passwordHash;
    bool disabled = false;
};

// Who is asking on one connection or one embedded counter. Empty until a login succeeds;
// a failed login empties it again.
// `source` is where the requests come from (the peer's address; "local" in the counter's
// own process): password guesses are throttled per source.
struct Session {
    std::string operatorNo;
    std::int32_t branchNo = 0;
    std::string source = "local";
    // Set when the last request was a guess the throttle held back: how long the source
    // should wait before its next request is taken.
    std::chrono::milliseconds holdBack{0};
    bool open() const { return !operatorNo.empty(); }
    // Over the network: its logins and logouts are journaled. The counter's own back office
    // has one operator at one machine and no door to watch.
    bool served() const { return source != "local"; }
};

struct OfficeOptions {
    // How long an approved review may wait for its resend.
    std::chrono::seconds reviewMaxAge{300};
    // Wrong reviewer passwords that void the review process they were given for.
    int wrongReviewsPerProcess = 3;
    // Review processes one operator may have waiting for a reviewer; a new demand past
    // them expires the oldest.
    int openReviewsPerOperator = 16;
    // How password guesses are throttled.
    ThrottleOptions throttle;
    // Slow password verifications at once, and how long a request waits for a turn
    // before it is told the back office is busy.
    std::size_t maxHashes = 2;
    std::chrono::milliseconds hashWait{2000};
    // How fast one operator's changes and review demands are taken.
    WritePace writePace;
    // Commits wait for the disk; off only to measure what that costs.
    bool fullSync = true;
    // Every change and review event is journaled; off only to measure what that costs.
    bool journal = true;
};

class BackOffice;

// What a handler works with.
struct HandlerContext {
    BackOffice& office;
    Database& db;
    const Request& request;
    Session& session;
    Operator op; // the operator of the request's operator_no
    // The write transaction dispatch opened for a reviewable function, in which the review
    // gate ran; dispatch commits it when the handler returns.
    Transaction* transaction = nullptr;
};

using Handler = std::string (*)(HandlerContext&);

// What a function does to the records, and so whether review rules may apply to it.
enum class Access {
    // Changes nothing: dispatch runs the handler on a connection that refuses writes.
    Reads,
    // Writes behind the review gate, in the transaction dispatch opens for it.
    Reviewable,
    // Writes without the review gate; the entry says why in `unreviewedBecause`.
    Unreviewed,
};

// A field of the table that every entry must set: it has no default, so an entry that
// leaves it out does not compile.
template <typename T> struct Required {
    constexpr Required(T v) : value(v) {}
    T value;
};

// How dispatch treats a function before its handler runs, so that no handler can forget
// a check.
struct FunctionRule {
    Handler handler = nullptr;
    // Carried out only for the operator logged in on the session: every function but the
    // login.
    bool needsSession = true;
    // A password field the request must carry, checked before the handler (the counter's
    // login requests); op_password is checked whenever a request carries it.
    const char* credential = nullptr;
    // Whether the function writes, and if so whether the review gate runs before it.
    Required<Access> access;
    // Why a function that writes has no review gate.
    const char* unreviewedBecause = nullptr;
    // The field that carries the rate the rules on rates look at.
    const char* rateField = nullptr;
    // The fields a reviewable handler reads besides the header: a review stores these and
    // no others, and the request refuses a read of any other.
    std::vector<std::string_view> fields = {};

    bool reviewable() const { return access.value == Access::Reviewable; }
};

// The description of the function of that number, or none.
const FunctionRule* functionRule(std::int32_t functionNo);
// Every function the back office serves, by number.
const std::map<std::int32_t, FunctionRule>& functionTable();

class BackOffice {
public:
    explicit BackOffice(const std::string& dbPath, OfficeOptions options = {});

    // Any bytes in, a reply packet out, on behalf of the session, whatever fault a handler
    // meets: never an exception. Safe to call from several threads at once, each with its
    // own session: every call works on a database connection of its own.
    std::string handle(Session& session, std::string_view requestPacket);

    // Serves a function of the table with another handler, behind the same checks (a
    // stand-in, or a fault to prove the server survives it). Before the first request.
    void replaceHandler(std::int32_t functionNo, Handler handler);

    // A connection for reads and maintenance outside requests.
    Database& database() { return db_; }
    Passwords& passwords() { return attempts_.passwords(); }
    const OfficeOptions& options() const { return options_; }

    // The operator of that number, or a ServiceError; one disabled or without a password
    // is refused too.
    Operator findOperator(Database& db, const std::string& operatorNo);
    // Raises a ServiceError unless the password is the operator's and the throttle lets
    // the session's address guess at him now; a wrong one is counted in the database, so a
    // restart keeps the counts. A wrong password, an address slowed down, an operator's
    // guesses used up and a refused login are journaled. A session logged in as the
    // operator is never held back for a password it has shown right before.
    void checkPassword(HandlerContext& ctx, const Operator& op, std::string_view password,
                       std::int32_t wrongPasswordError = errors::wrongPassword);
    // Lifts the bound on guesses at the operator that strangers may have used up, and
    // journals who lifted it. A ServiceError for an unknown operator.
    void releaseOperator(const std::string& operatorNo, const std::string& administrator);
    std::int32_t mainBranchNo(Database& db);
    // Ends the session (its connection closed, or another login on it) and journals the
    // logout of the operator it spoke for, if any. The session ends even when the entry
    // cannot be written; that failure is then raised.
    void endSession(Session& session, const std::string& why);
    // Writes the entry in the caller's open write transaction. An entry with a fund
    // account and no client gets the account's client.
    void journal(Database& db, JournalEntry entry);

private:
    class Lease;
    void journalRefusal(HandlerContext& ctx, const Operator& op, const std::string& refusal);
    void endSession(Database& db, Session& session, const std::string& why);
    // A login refused because the operator is disabled or has no password: journaled as
    // throttle refusals are, once a minute per address and operator.
    void journalRefusedOperator(Database& db, const Session& session, const Request& request,
                                const ServiceError& refusal);
    // In the caller's transaction: the wrong password, and the address's wait or the
    // operator's bound it brought.
    void journalWrongPassword(HandlerContext& ctx, const Operator& op, bool reviewer,
                              const PasswordAttempt& attempt);
    std::unique_ptr<Database> takeConnection();
    void giveBack(std::unique_ptr<Database> db);
    std::string answer(Session& session, std::string_view requestPacket, std::int32_t& functionNo);
    std::string faultReply(std::int32_t functionNo, std::exception_ptr fault);
    std::string dispatch(Session& session, Database& db, const protocol::PacketView& packet);

    std::string path_;
    OfficeOptions options_;
    Database db_;
    PasswordAttempts attempts_;
    WritePacer writes_;
    std::map<std::int32_t, Handler> replaced_;
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<Database>> idle_;
};

// A journal entry of the kind about the request in hand: its time, operator, branch,
// workstation and function.
JournalEntry requestEntry(const HandlerContext& ctx, std::string event);

// The handlers, one per function number.
std::string handleSysConfig(HandlerContext& ctx);      // 105006
std::string handleResolveAccount(HandlerContext& ctx); // 200086
std::string handleFundAccount(HandlerContext& ctx);    // 200076
std::string handleSubAccounts(HandlerContext& ctx);    // 200105
std::string handleClientInfo(HandlerContext& ctx);     // 150010
std::string handleClientSync(HandlerContext& ctx);     // 730000
std::string handleVipOpen(HandlerContext& ctx);        // 730001
std::string handleVipClose(HandlerContext& ctx);       // 730002
std::string handleVipModify(HandlerContext& ctx);      // 730003
std::string handleVipList(HandlerContext& ctx);        // 730004
std::string handleReview(HandlerContext& ctx);         // 360042
// The counter's own login requests.
std::string handleOperatorLogin(HandlerContext& ctx);     // 100001
std::string handleOperatorBranches(HandlerContext& ctx);  // 100002
std::string handleOperatorFunctions(HandlerContext& ctx); // 100003
std::string handleDictionary(HandlerContext& ctx);        // 100004

} // namespace backoffice
