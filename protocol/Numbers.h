#pragma once
// The numbers the counter and the back office share: the functions a request names and
// the error numbers of the back office's error replies.

#include <cstdint>

namespace protocol {

namespace function {
constexpr std::int32_t login = 100001;
constexpr std::int32_t operatorBranches = 100002;
constexpr std::int32_t operatorFunctions = 100003;
constexpr std::int32_t dictionary = 100004;
constexpr std::int32_t sysConfig = 105006;
constexpr std::int32_t clientInfo = 150010;
constexpr std::int32_t fundAccount = 200076;
constexpr std::int32_t resolveAccount = 200086;
constexpr std::int32_t subAccounts = 200105;
constexpr std::int32_t review = 360042;
constexpr std::int32_t clientSync = 730000;
constexpr std::int32_t vipOpen = 730001;
constexpr std::int32_t vipClose = 730002;
constexpr std::int32_t vipModify = 730003;
constexpr std::int32_t vipList = 730004;
} // namespace function

namespace errors {
constexpr std::int32_t badRequest = 1001;
constexpr std::int32_t unknownFunction = 1002;
constexpr std::int32_t unknownOperator = 1011;
constexpr std::int32_t wrongPassword = 1012;
constexpr std::int32_t notLoggedIn = 1013;
constexpr std::int32_t notSessionOperator = 1014;
constexpr std::int32_t passwordThrottled = 1015;
constexpr std::int32_t unknownBranch = 1016;
constexpr std::int32_t busy = 1017;
constexpr std::int32_t tooLarge = 1018;
constexpr std::int32_t operatorDisabled = 1019; // disabled, or no password set yet
// One operator holds as many logged-in connections as a counter needs, not every slot.
constexpr std::int32_t tooManyLogins = 1020;
constexpr std::int32_t unknownAccount = 2001;
constexpr std::int32_t unknownClient = 2002;
constexpr std::int32_t badRate = 3001;
constexpr std::int32_t alreadyVip = 3002;
constexpr std::int32_t notVip = 3003;
constexpr std::int32_t accountNotNormal = 3004;
// The return code, and error number, of a request that needs a second operator's review.
constexpr std::int32_t reviewRequired = 360415;
constexpr std::int32_t noSuchProcess = 3601;
constexpr std::int32_t sameReviewer = 3602;
constexpr std::int32_t noReviewRight = 3603;
constexpr std::int32_t reviewerPassword = 3604;
constexpr std::int32_t notReviewed = 3605;
constexpr std::int32_t reviewExpired = 3606;
constexpr std::int32_t serverFault = 9999;
} // namespace errors

} // namespace protocol
