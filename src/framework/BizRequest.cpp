#include "BizRequest.h"

#include "BizForm.h"
#include "MessageDialogs.h"
#include "Tools.h"
#include "UFaceAudit.h"

#include <charconv>
#include <memory>

namespace {

void setField(IPackerDisp* packer, const char* name, const Variant& value) {
    HostPtr<IFieldDisp> field;
    check(packer->Field(Variant(name), field.put()), "Packer.Field");
    check(field->SetValue(value), "Field.SetValue");
}

Variant readField(IUnpackerDisp* reader, const Variant& nameOrIndex) {
    HostPtr<IFieldDisp> field;
    check(reader->Field(nameOrIndex, field.put()), "Reader.Field");
    Variant value;
    check(field->Value(&value), "Field.Value");
    return value;
}

IARCom* communication(TBizFormBase& form) {
    IARCom* com = form.GetARCom();
    if (!com)
        throw EHostError("GetObject(ARCom)", hr::notFound);
    return com;
}

// The requests that change something at the back office: one that got no answer may have
// been done there. Every other request only looks something up.
bool changesBusiness(std::int32_t functionNo) {
    return (functionNo >= 730000 && functionNo <= 730003) || functionNo == 360042;
}

Variant sendAndWait(IARCom* com, const Variant& data, std::int32_t timeoutMs,
                    std::int32_t functionNo) {
    Variant packetId;
    check(com->Send(data, 1000, &packetId), "ARCom.Send");
    Variant reply;
    const HRESULT status = com->Receive(packetId, timeoutMs, &reply);
    if (hr::failed(status) && !changesBusiness(functionNo) &&
        (status == hr::timeout || status == hr::transportBroken)) {
        // The host words it for a business step that may be unfinished; a look-up that got
        // no answer changed nothing and is simply tried again.
        TakeErrorDescription();
        throw EHostError("ARCom.Receive", status,
                         status == hr::timeout ? "后台没有及时应答，查询没有完成，请重试。"
                                               : "与后台的连接已断开，查询没有完成，请重试。");
    }
    check(status, "ARCom.Receive");
    return reply;
}

std::int32_t returnCode(IUnpackerDisp* reader) {
    std::int32_t code = 0;
    check(reader->ReturnCode(&code), "Reader.ReturnCode");
    return code;
}

// The integer of a text, or 0 when it is not one.
std::int32_t integerOrZero(const std::string& text) {
    const std::string s = Trim(text);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() && !s.empty() ? value : 0;
}

enum class ResendAs { Reviewed, PreCheck };

// A fresh packer and reader (not the form's), every field of D copied in order, then
// audit_action "2" (or, for the pre-check, function_id set to its number); sent, waited for.
Variant Resend(TBizFormBase& form, const Variant& D, std::int32_t functionNo, ResendAs as,
               std::int32_t timeoutMs) {
    IARCom* com = communication(form);
    auto packer = createHostObject<IPackerDisp>(CLSID_Packer, "new host packer");
    auto original = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "new host unpacker");
    check(original->Open(D), "Reader.Open");
    check(com->InitRequest(functionNo, packer.get()), "ARCom.InitRequest");
    std::int32_t fields = 0;
    check(original->FieldCount(&fields), "Reader.FieldCount");
    for (std::int32_t i = 0; i < fields; ++i) {
        HostPtr<IFieldDisp> field;
        check(original->Field(Variant(std::int64_t{i}), field.put()), "Reader.Field");
        std::string name;
        check(field->Name(&name), "Field.Name");
        Variant value;
        check(field->Value(&value), "Field.Value");
        setField(packer.get(), name.c_str(), value);
    }
    if (as == ResendAs::Reviewed)
        setField(packer.get(), "audit_action", Variant("2"));
    else
        setField(packer.get(), "function_id", Variant(std::int64_t{functionNo}));
    check(packer->Finish(), "Packer.Finish");
    Variant data;
    check(packer->GetData(&data), "Packer.GetData");
    return sendAndWait(com, data, timeoutMs, functionNo);
}

// D's own function_id.
std::int32_t functionOf(const Variant& D) {
    auto reader = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "new host unpacker");
    check(reader->Open(D), "Reader.Open");
    return readField(reader.get(), Variant("function_id")).toInt32();
}

// What the reviewer approves, in words, from the request that asked for the review and the
// form that sent it: the function, the fund account, the client's name where the form shows
// it, the discount rate where the request carries one.
QStringList ReviewSummary(TBizFormBase& form, const Variant& D) {
    auto request = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "new host unpacker");
    check(request->Open(D), "Reader.Open");
    QString fundAccount, rate;
    std::int32_t fields = 0;
    check(request->FieldCount(&fields), "Reader.FieldCount");
    for (std::int32_t i = 0; i < fields; ++i) {
        HostPtr<IFieldDisp> field;
        check(request->Field(Variant(std::int64_t{i}), field.put()), "Reader.Field");
        std::string name;
        check(field->Name(&name), "Field.Name");
        Variant value;
        check(field->Value(&value), "Field.Value");
        if (name == "fund_account")
            fundAccount = QString::fromStdString(Trim(VariantToText(value)));
        else if (name == "discount_rate")
            rate = QString::fromStdString(Trim(VariantToText(value)));
    }
    QStringList lines;
    if (!form.windowTitle().isEmpty())
        lines << QStringLiteral("复核业务：") + form.windowTitle();
    if (!fundAccount.isEmpty() && fundAccount != QLatin1String("0"))
        lines << QStringLiteral("资产账号：") + fundAccount;
    if (const QString name = form.ReviewClientName().trimmed(); !name.isEmpty())
        lines << QStringLiteral("客户姓名：") + name;
    // A change of rate shows the rate before and after: that change is what is approved.
    if (const QString before = form.ReviewRateBefore().trimmed(); !rate.isEmpty())
        lines << QStringLiteral("佣金折扣：") +
                     (before.isEmpty() ? rate : before + QStringLiteral(" → ") + rate);
    return lines;
}

} // namespace

void SetRequestField(TBizFormBase& form, const char* name, const Variant& value) {
    setField(form.GetPacker(), name, value);
}

Variant SessionValue(TBizFormBase& form, const char* key) {
    Variant value;
    check(form.GetStorage()->GetValue(key, &value),
          (std::string("PersonalData.GetValue(") + key + ")").c_str());
    return value;
}

void BeginRequest(TBizFormBase& form, std::int32_t functionNo) {
    check(communication(form)->InitRequest(functionNo, form.GetPacker()), "ARCom.InitRequest");
    SetRequestField(form, "op_branch_no", SessionValue(form, "BranchNo"));
    SetRequestField(form, "operator_no", SessionValue(form, "OperCode"));
    SetRequestField(form, "user_type", SessionValue(form, "OperatorKind"));
    SetRequestField(form, "op_station", SessionValue(form, "MAC"));
    SetRequestField(form, "op_entrust_way", Variant("4"));
    SetRequestField(form, "menu_id", Variant(std::int64_t{form.menuCode()}));
    SetRequestField(form, "function_id", Variant(std::int64_t{functionNo}));
}

void ExecuteRequest(TBizFormBase& form, std::int32_t timeoutMs, const QString& label1,
                    const QString& value1, char option1, const QString& label2,
                    const QString& value2, char option2, std::int32_t preCheckFunctionNo,
                    Variant& reply) {
    IPackerDisp* packer = form.GetPacker();
    check(packer->Finish(), "Packer.Finish");
    Variant D;
    check(packer->GetData(&D), "Packer.GetData");

    Variant current = preCheckFunctionNo == 0
                          ? sendAndWait(communication(form), D, timeoutMs, functionOf(D))
                          : Resend(form, D, preCheckFunctionNo, ResendAs::PreCheck, timeoutMs);
    IUnpackerDisp* reader = form.GetReader();
    check(reader->Open(current), "Reader.Open");
    const std::int32_t code = returnCode(reader);

    if (code == ReturnReviewRequired) {
        const std::string info = VariantToText(readField(reader, Variant("error_info")));
        const std::int32_t processNo = integerOrZero(GetField(info, ',', 2));
        const QString reviewer = QString::fromStdString(GetField(info, ',', 3));
        const Variant first = current;
        int result = QDialog::Rejected;
        Variant refusal;
        {
            const FaceAuditHold dialog(form);
            dialog->Setup(label1, value1, option1, label2, value2, option2);
            dialog->setReviewer(reviewer, processNo);
            dialog->setSummary(ReviewSummary(form, D));
            result = dialog->exec();
            refusal = dialog->refusal();
        }
        if (result == QDialog::Accepted) {
            current = Resend(form, D, functionOf(D), ResendAs::Reviewed, timeoutMs);
            check(reader->Open(current), "Reader.Open");
        } else if (result == TfrmFaceAudit::Voided) {
            // The refusal that ended the review is the answer the form reads.
            check(reader->Open(refusal), "Reader.Open");
            current = refusal;
        } else {
            // The dialog's own request used the reader meanwhile: the demand goes back in.
            check(reader->Open(first), "Reader.Open");
            current = first;
        }
    } else if (code == 0 && preCheckFunctionNo != 0) {
        current = Resend(form, D, functionOf(D), ResendAs::Reviewed, timeoutMs);
        check(reader->Open(current), "Reader.Open");
    }
    reply = current;
}

QString ReplyErrorText(const QString& errorNo, const QString& errorSvrNo,
                       const QString& errorInfo) {
    const QString lfcr = QStringLiteral("\n\r");
    return QStringLiteral("错  误  号:") + errorNo + lfcr + QStringLiteral("系统服务号:") +
           errorSvrNo + lfcr + QStringLiteral("错误信息:") + errorInfo;
}

namespace {

QString replyText(TBizFormBase& form, const char* name) {
    return QString::fromStdString(readField(form.GetReader(), Variant(name)).toText());
}

// What the operator reads for a refusal the counter words itself; empty for any other.
QString wordedRefusal(TBizFormBase& form) {
    const std::int32_t errorNo = replyText(form, "error_no").trimmed().toInt();
    switch (errorNo) {
    case ReturnReviewRequired:
        return QStringLiteral("已取消复核，本次业务未提交");
    case ErrorOperatorDisabled:
        return QStringLiteral("您的柜员号已停用，不能再办理业务。\n请联系管理员。");
    case ErrorPasswordThrottled:
        return QStringLiteral("密码错误次数过多，暂时不能办理业务。\n请稍后再试，或请联系管理员。");
    case ErrorNotLoggedIn:
        return QStringLiteral("本次登录已结束，业务没有办理。\n请重新登录柜台，或请联系管理员。");
    default:
        break;
    }
    if (ReplyEndsReview(form))
        return QStringLiteral("复核流程已作废，本次业务没有办理。\n可以重新提交该业务。");
    return {};
}

} // namespace

bool ReplyEndsReview(TBizFormBase& form) {
    const std::int32_t errorNo = replyText(form, "error_no").trimmed().toInt();
    const QString info = replyText(form, "error_info");
    // The back office says so in its words only: a wrong password that voids the review
    // shares its number with one that does not.
    const bool ended =
        info.contains(QStringLiteral("已作废")) || info.contains(QStringLiteral("已过期"));
    return (errorNo == ErrorNoSuchProcess || errorNo == ErrorReviewerPassword) && ended;
}

void ShowReplyError(TBizFormBase& form) {
    const QString technical = ReplyErrorText(
        replyText(form, "error_no"), replyText(form, "error_svrno"), replyText(form, "error_info"));
    const QString worded = wordedRefusal(form);
    if (worded.isEmpty()) {
        ShowWarning(technical);
        return;
    }
    MessageDialogs::current().showDetailed(MessageDialogs::Kind::Warning, worded, technical,
                                           MessageDialogs::Buttons::Ok);
}
