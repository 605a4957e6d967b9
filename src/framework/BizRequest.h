#pragma once
// The request pattern every business step follows: the standard header in the form's
// packer, the request sent through the host's communication object, the reply read from
// the form's reader, the fixed error dialog, and the counter-side review a reply with
// return code 360415 asks for.

#include "Variant.h"

#include <QString>

#include <cstdint>

class TBizFormBase;

// Return codes with a meaning of their own.
constexpr std::int32_t ReturnReviewRequired = 360415;

// A field of the request in the form's packer.
void SetRequestField(TBizFormBase& form, const char* name, const Variant& value);
// A value of the session storage, read now.
Variant SessionValue(TBizFormBase& form, const char* key);

// Starts a request of the function in the form's packer and writes the standard header,
// each value read afresh from the session storage.
void BeginRequest(TBizFormBase& form, std::int32_t functionNo);

// Sends the request in the form's packer and leaves the final reply in `reply` and loaded
// in the form's reader. The label/value pairs are the review checks (an empty label: no
// check). preCheckFunctionNo 0: no pre-check. Host failures raise EHostError.
void ExecuteRequest(TBizFormBase& form, std::int32_t timeoutMs, const QString& label1,
                    const QString& value1, char option1, const QString& label2,
                    const QString& value2, char option2, std::int32_t preCheckFunctionNo,
                    Variant& reply);

// Error numbers the operator reads in words, their numbers behind the details: the
// session's refusals, and a review that no longer waits.
constexpr std::int32_t ErrorNotLoggedIn = 1013;
constexpr std::int32_t ErrorPasswordThrottled = 1015;
constexpr std::int32_t ErrorOperatorDisabled = 1019;
constexpr std::int32_t ErrorNoSuchProcess = 3601;
constexpr std::int32_t ErrorReviewerPassword = 3604;

// True when the refusal in the form's reader ended the review it answers (voided after
// too many wrong passwords, expired): the business has to be submitted again.
bool ReplyEndsReview(TBizFormBase& form);

// The failure dialog for the reply in the form's reader. The session's refusals, a review
// given up (the demand 360415 put back after 取消) and a review the back office ended are
// said in words, with the operator's next step, the numbers behind the details; any other
// refusal shows error_no, error_svrno and error_info in one warning with an OK button.
void ShowReplyError(TBizFormBase& form);
// Its text, lines separated by a line feed and a carriage return.
QString ReplyErrorText(const QString& errorNo, const QString& errorSvrNo, const QString& errorInfo);
