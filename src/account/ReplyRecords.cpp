#include "ReplyRecords.h"

#include "BizForm.h"
#include "BizRequest.h"

void StartRequest(TBizFormBase& form, std::int32_t functionNo) {
    IARCom* com = form.GetARCom();
    if (!com)
        throw EHostError("GetObject(ARCom)", hr::notFound);
    check(com->InitRequest(functionNo, form.GetPacker()), "ARCom.InitRequest");
}

void SendRequest(TBizFormBase& form) {
    Variant reply;
    ExecuteRequest(form, 5000, {}, {}, ' ', {}, {}, ' ', 0, reply);
}

std::int32_t ReplyReturnCode(TBizFormBase& form) {
    std::int32_t code = 0;
    check(form.GetReader()->ReturnCode(&code), "Reader.ReturnCode");
    return code;
}

bool ReplyAtEnd(TBizFormBase& form) {
    bool eof = true;
    check(form.GetReader()->Eof(&eof), "Reader.Eof");
    return eof;
}

void ReplyNext(TBizFormBase& form) {
    check(form.GetReader()->Next(), "Reader.Next");
}

Variant ReplyValue(TBizFormBase& form, const char* name) {
    HostPtr<IFieldDisp> field;
    check(form.GetReader()->Field(Variant(name), field.put()), "Reader.Field");
    Variant value;
    check(field->Value(&value), "Field.Value");
    return value;
}
