#pragma once
// What the account services share of a request and its reply: starting a request in the
// form's packer without the standard header, and reading the form's reply reader record by
// record. Host failures are raised.

#include "Variant.h"

#include <cstdint>

class TBizFormBase;

// InitRequest of the function on the form's packer.
void StartRequest(TBizFormBase& form, std::int32_t functionNo);
// Sends the request in the form's packer as the account services do: 5000 ms, no review
// checks, no pre-check. The reply is then in the form's reader.
void SendRequest(TBizFormBase& form);

std::int32_t ReplyReturnCode(TBizFormBase& form);
// True when the reader is past its last record (or the reply has none).
bool ReplyAtEnd(TBizFormBase& form);
void ReplyNext(TBizFormBase& form);
// A field of the current record; empty past the end.
Variant ReplyValue(TBizFormBase& form, const char* name);
