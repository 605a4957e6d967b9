#pragma once
// The back office: answers every request packet with a reply packet, on one SQLite
// database. Bad input gets an error reply, never a crash and never a false success.

#include "Database.h"
#include "Passwords.h"
#include "Request.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace backoffice {

struct Operator {
    std::string operatorNo;
    std::string name;
    std::string kind;
    std::int32_t branchNo = 0;
    bool canReview = false;
    std::string passwordHash;
};

class BackOffice;

// What a handler works with.
struct HandlerContext {
    BackOffice& office;
    Database& db;
    const Request& request;
    Operator op; // the operator of the request's operator_no
};

class BackOffice {
public:
    explicit BackOffice(const std::string& dbPath);

    // Any bytes in, a reply packet out. Safe to call from several threads: requests are
    // handled one at a time.
    std::string handle(std::string_view requestPacket);

    Database& database() { return db_; }
    Passwords& passwords() { return passwords_; }
    std::int32_t mainBranchNo();

    // The operator of that number, or a ServiceError.
    Operator findOperator(const std::string& operatorNo);
    // Raises a ServiceError unless the password is the operator's.
    void checkPassword(const Operator& op, std::string_view password);

private:
    std::string dispatch(const protocol::PacketView& packet);

    std::mutex mutex_;
    Database db_;
    Passwords passwords_;
};

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
