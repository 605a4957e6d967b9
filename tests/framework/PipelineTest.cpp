#include "HostFixture.h"
#include "ScriptedDialogs.h"
#include "TranscriptHost.h"
#include "WhenShown.h"

#include "BizRequest.h"
#include "CounterHost.h"
#include "QZForm.h"
#include "UFaceAudit.h"
#include "protocol/Service.h"
#include "ui_UFaceAudit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

class PipelineForm : public TQZFormBase {
protected:
    void HostAttached() override { LoadSession(); }
};

void addField(TBizFormBase& form, const char* name, const Variant& value) {
    HostPtr<IFieldDisp> field;
    check(form.GetPacker()->Field(Variant(name), field.put()), "Field");
    check(field->SetValue(value), "SetValue");
}

Variant replyField(TBizFormBase& form, const char* name) {
    HostPtr<IFieldDisp> field;
    check(form.GetReader()->Field(Variant(name), field.put()), "Field");
    Variant value;
    check(field->Value(&value), "Value");
    return value;
}

std::int32_t code(TBizFormBase& form) {
    std::int32_t c = 0;
    check(form.GetReader()->ReturnCode(&c), "ReturnCode");
    return c;
}

void whenReviewShows(std::function<void(TfrmFaceAudit&)> act) {
    WhenShown<TfrmFaceAudit>(&FaceAudit, std::move(act));
}

void typeInto(QWidget* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClicks(edit, text);
}

// The review dialog as it is at this moment, for the operator to look at.
void saveScreen(QWidget& w, const char* name) {
    QDir().mkpath(QStringLiteral(SCREEN_DIR));
    w.grab().save(QStringLiteral(SCREEN_DIR "/%1.png").arg(QLatin1String(name)));
}

// The counter's real objects on the embedded training back office, with a transcript.
class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        ASSERT_TRUE(dir.isValid());
        transcript = dir.filePath("transcript.jsonl");
        host = transcriptHost(dir.filePath("office.db"), transcript);
        ASSERT_EQ(host->login("1001", "pass1001", "1"), "");
        form.InitFromHost(730102, 0, 0, host->appFrame());
    }
    void TearDown() override { counter::unregisterHostClasses(); }

    // A VIP open at 0.45, which the training rules send to a reviewer.
    void beginLowRateOpen() {
        BeginRequest(form, 730001);
        addField(form, "branch_no", Variant(std::int64_t{8}));
        addField(form, "client_id", Variant("100001"));
        addField(form, "audit_action", Variant("0"));
        addField(form, "fund_account", Variant(std::int64_t{80000001}));
        addField(form, "discount_rate", Variant("0.45"));
    }

    QStringList lines() {
        QFile file(transcript);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QStringList requestsOf(int function) {
        QStringList found;
        for (const QString& line : lines()) {
            if (line.contains(QStringLiteral("\"dir\":\"request\"")) &&
                line.contains(QStringLiteral("\"function\":%1,").arg(function)))
                found << line.section(QStringLiteral(",\"function\""), 1); // without the packet id
        }
        return found;
    }

    QTemporaryDir dir;
    QString transcript;
    std::unique_ptr<counter::CounterHost> host;
    PipelineForm form;
};

} // namespace

TEST_F(PipelineTest, GrantedReviewResendsEveryFieldInOrderWithAuditAction2) {
    ScriptedDialogs::Installed dialogs;
    beginLowRateOpen();
    whenReviewShows([](TfrmFaceAudit& review) {
        EXPECT_EQ(review.ui().hedOperator->text(), "1002"); // the default reviewer, trimmed
        EXPECT_EQ(review.processNo(), 1);
        saveScreen(review, "review-no-checks");
        typeInto(review.ui().hedPassword, "pass1002");
        QTest::keyClick(review.ui().hedPassword, Qt::Key_Return);
        review.ui().hbtnOK->click();
    });
    Variant reply;
    ExecuteRequest(form, 5000, {}, {}, ' ', {}, {}, ' ', 0, reply);
    EXPECT_EQ(code(form), 0);
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_TRUE(FaceAudit().isNull()); // released after use

    const QStringList sent = requestsOf(730001);
    ASSERT_EQ(sent.size(), 2);
    QString expected = sent[0];
    expected.replace(QStringLiteral("[\"audit_action\",\"0\"]"),
                     QStringLiteral("[\"audit_action\",\"2\"]"));
    EXPECT_EQ(sent[1], expected);
    EXPECT_TRUE(sent[1].contains(QStringLiteral("[\"function_id\",730001]")));
    EXPECT_EQ(requestsOf(360042).size(), 1);
}

TEST_F(PipelineTest, CancelledReviewLeavesTheDemandInTheReaderAndSendsNothingMore) {
    beginLowRateOpen();
    whenReviewShows([](TfrmFaceAudit& review) { review.ui().hbtnCancel->click(); });
    Variant reply;
    ExecuteRequest(form, 5000, {}, {}, ' ', {}, {}, ' ', 0, reply);
    EXPECT_EQ(code(form), ReturnReviewRequired);
    EXPECT_EQ(requestsOf(730001).size(), 1);

    // The window's close box counts as Cancel too.
    beginLowRateOpen();
    whenReviewShows([](TfrmFaceAudit& review) { review.close(); });
    ExecuteRequest(form, 5000, {}, {}, ' ', {}, {}, ' ', 0, reply);
    EXPECT_EQ(code(form), ReturnReviewRequired);
    EXPECT_EQ(requestsOf(730001).size(), 2);
}

TEST_F(PipelineTest, TheReviewGoesOnWithEnterAndCancelsWithEsc) {
    ScriptedDialogs::Installed dialogs;
    beginLowRateOpen();
    whenReviewShows([](TfrmFaceAudit& review) {
        QApplication::setActiveWindow(&review);
        review.ui().hedOperator->setFocus();
        QTest::keyClick(review.ui().hedOperator, Qt::Key_Return); // on to the password
        EXPECT_TRUE(review.ui().hedPassword->hasFocus());
        QTest::keyClick(review.ui().hedPassword, Qt::Key_Escape);
    });
    Variant reply;
    ExecuteRequest(form, 5000, {}, {}, ' ', {}, {}, ' ', 0, reply);
    EXPECT_EQ(code(form), ReturnReviewRequired);
    EXPECT_EQ(requestsOf(730001).size(), 1); // the cancelled one went no further
    EXPECT_EQ(requestsOf(360042).size(), 0);

    beginLowRateOpen();
    whenReviewShows([](TfrmFaceAudit& review) {
        QApplication::setActiveWindow(&review);
        typeInto(review.ui().hedPassword, "pass1002");
        QTest::keyClick(review.ui().hedPassword, Qt::Key_Return); // verified, then on to OK
        EXPECT_TRUE(review.ui().hbtnOK->hasFocus());
        QTest::keyClick(review.ui().hbtnOK, Qt::Key_Return);
    });
    ExecuteRequest(form, 5000, {}, {}, ' ', {}, {}, ' ', 0, reply);
    EXPECT_EQ(code(form), 0);
    EXPECT_EQ(requestsOf(730001).size(), 3);
    EXPECT_EQ(requestsOf(360042).size(), 1);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(PipelineTest, WrongPasswordOrTheSameOperatorIsRefusedAndTheDialogStays) {
    ScriptedDialogs::Installed dialogs;
    beginLowRateOpen();
    bool stayed = false;
    whenReviewShows([&](TfrmFaceAudit& review) {
        typeInto(review.ui().hedPassword, "wrong");
        QTest::keyClick(review.ui().hedPassword, Qt::Key_Return);
        // Still open, the typed password there to correct.
        stayed = review.isVisible() && review.ui().hedPassword->text() == "wrong";
        // The requester cannot review himself; changing the operator empties the password.
        review.ui().hedOperator->setText("1001");
        EXPECT_EQ(review.ui().hedPassword->text(), "");
        typeInto(review.ui().hedPassword, "pass1001");
        review.ui().hbtnOK->click(); // OK verifies first: refused, the dialog stays
        EXPECT_TRUE(review.isVisible());
        review.ui().hbtnCancel->click();
    });
    Variant reply;
    ExecuteRequest(form, 5000, {}, {}, ' ', {}, {}, ' ', 0, reply);
    EXPECT_TRUE(stayed);
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[0].text, ReplyErrorText("3604", "1", "复核柜员密码错误"));
    EXPECT_EQ(dialogs->shown[1].text, ReplyErrorText("3602", "1", "复核柜员不能与经办柜员相同"));
    EXPECT_EQ(code(form), ReturnReviewRequired);
}

TEST_F(PipelineTest, ChecksAreComparedExactly) {
    beginLowRateOpen();
    whenReviewShows([](TfrmFaceAudit& review) {
        EXPECT_TRUE(review.ui().gbxAuditParams->isVisibleTo(&review));
        EXPECT_EQ(review.ui().lbName1->text(), "身份证号:");
        saveScreen(review, "review-two-checks");
        typeInto(review.ui().hedPassword, "pass1002");
        QTest::keyClick(review.ui().hedPassword, Qt::Key_Return);
        typeInto(review.ui().hedValue1, "440301198001010011");
        typeInto(review.ui().hedValue2, "zhang"); // expected "Zhang": case counts
        review.ui().hbtnOK->click();
        EXPECT_TRUE(review.isVisible());
        review.ui().hedValue2->clear();
        typeInto(review.ui().hedValue2, "Zhang");
        review.ui().hbtnOK->click();
    });
    Variant reply;
    ExecuteRequest(form, 5000, QStringLiteral("身份证号:"), QStringLiteral("440301198001010011"),
                   'a', QStringLiteral("姓名拼音:"), QStringLiteral("Zhang"), 'b', 0, reply);
    EXPECT_EQ(code(form), 0);
}

TEST(FaceAudit, WithoutChecksTheDialogIsShorterByTheParameterGroup) {
    ASSERT_EQ(counter::registerHostClasses(), hr::ok);
    PipelineForm owner;
    TfrmFaceAudit full(owner);
    full.Setup("a", "1", ' ', "b", "2", ' ');
    TfrmFaceAudit shortened(owner);
    const int group = shortened.ui().gbxAuditParams->height();
    shortened.Setup({}, {}, ' ', {}, {}, ' ');
    EXPECT_EQ(full.height(), 373);
    EXPECT_EQ(shortened.height(), 373 - group);
    EXPECT_EQ(shortened.ui().Bevel1->height(), full.ui().Bevel1->height() - group);
    EXPECT_FALSE(shortened.ui().gbxAuditParams->isVisibleTo(&shortened));
    EXPECT_EQ(full.windowTitle(), "临柜复核");
    EXPECT_EQ(full.ui().hbtnCancel->text(), "取消(&C)");
    shortened.setReviewer(QStringLiteral("  1002 "), 7);
    shortened.show();
    EXPECT_EQ(shortened.ui().hedOperator->text(), "1002");
    counter::unregisterHostClasses();
}

// The same pipeline against a scripted back office, for replies the training one never
// gives.
class ScriptedPipelineTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        CommonInfo().dictionary = std::make_unique<TDictionary>();
        form.InitFromHost(730105, 0, 0, frame.get());
    }
    void TearDown() override {
        CommonInfo().dictionary.reset();
        HostFixture::TearDown();
    }
    static std::string reply(std::int32_t code, std::int64_t errorNo, std::int64_t svrNo,
                             const std::string& info) {
        protocol::PacketWriter w(0, code);
        w.addField("error_no", protocol::FieldType::Integer);
        w.addField("error_svrno", protocol::FieldType::Integer);
        w.addField("error_info", protocol::FieldType::Text);
        w.beginRecord();
        w.integer(errorNo);
        w.integer(svrNo);
        w.text(info);
        std::string out;
        w.finish(out);
        return out;
    }
    PipelineForm form;
};

TEST_F(ScriptedPipelineTest, ErrorDialogTextIsExact) {
    ScriptedDialogs::Installed dialogs;
    script->answer(reply(1, 1, 2, "x"));
    BeginRequest(form, 105006);
    Variant out;
    ExecuteRequest(form, 1000, {}, {}, ' ', {}, {}, ' ', 0, out);
    ShowReplyError(form);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_EQ(dialogs->shown[0].buttons, MessageDialogs::Buttons::Ok);
    const QString expected = QStringLiteral("错  误  号:1") + QChar(0x0A) + QChar(0x0D) +
                             QStringLiteral("系统服务号:2") + QChar(0x0A) + QChar(0x0D) +
                             QStringLiteral("错误信息:x");
    EXPECT_EQ(dialogs->shown[0].text, expected);
}

TEST_F(ScriptedPipelineTest, ReviewDemandWithFewItemsGivesProcessZeroAndNoReviewer) {
    script->answer(reply(ReturnReviewRequired, 360415, 1, "需要复核"));
    BeginRequest(form, 730002);
    std::int32_t processNo = -1;
    QString reviewer = "x";
    whenReviewShows([&](TfrmFaceAudit& review) {
        processNo = review.processNo();
        reviewer = review.ui().hedOperator->text();
        review.reject();
    });
    Variant out;
    ExecuteRequest(form, 1000, {}, {}, ' ', {}, {}, ' ', 0, out);
    EXPECT_EQ(processNo, 0);
    EXPECT_EQ(reviewer, "");
    EXPECT_EQ(code(form), ReturnReviewRequired);
}

TEST_F(ScriptedPipelineTest, HeaderIsReadAfreshAndPreCheckResendsUnderTheRealFunction) {
    BeginRequest(form, 730003);
    addField(form, "fund_account", Variant(std::int64_t{80000003}));
    script->answer(reply(0, 0, 0, ""), 730004); // the pre-check
    script->answer(reply(0, 0, 0, "done"), 730003);
    storage->SetValue("OperCode", Variant("1004"));
    // The packer held the old operator: the header was written before the change.
    Variant out;
    ExecuteRequest(form, 1000, {}, {}, ' ', {}, {}, ' ', 730004, out);
    EXPECT_EQ(replyField(form, "error_info"), Variant("done"));
    const auto requests = script->requests();
    ASSERT_EQ(requests.size(), 2u);
    protocol::PacketView pre;
    protocol::PacketView real;
    ASSERT_EQ(pre.decode(requests[0]), protocol::DecodeStatus::Ok);
    ASSERT_EQ(real.decode(requests[1]), protocol::DecodeStatus::Ok);
    EXPECT_EQ(pre.functionNo(), 730004);
    EXPECT_EQ(pre.integer(0, static_cast<std::size_t>(pre.indexOf("function_id"))), 730004);
    EXPECT_EQ(real.functionNo(), 730003);
    EXPECT_EQ(real.integer(0, static_cast<std::size_t>(real.indexOf("function_id"))), 730003);
    EXPECT_EQ(real.text(0, static_cast<std::size_t>(real.indexOf("audit_action"))), "2");
    const std::vector<std::string> header{"op_branch_no", "operator_no",    "user_type",
                                          "op_station",   "op_entrust_way", "menu_id",
                                          "function_id"};
    for (std::size_t i = 0; i < header.size(); ++i)
        EXPECT_EQ(real.field(i).name, header[i]);
    EXPECT_EQ(real.text(0, 1), "1001");
    EXPECT_EQ(real.integer(0, 5), 730105);

    BeginRequest(form, 105006);
    protocol::PacketView again;
    Variant data;
    check(form.GetPacker()->Finish(), "Finish");
    check(form.GetPacker()->GetData(&data), "GetData");
    ASSERT_EQ(again.decode(data.bytes()), protocol::DecodeStatus::Ok);
    EXPECT_EQ(again.text(0, 1), "1004"); // read afresh on the next request
}

TEST_F(ScriptedPipelineTest, TimeoutIsRaisedAndTheLateReplyIsNeverTheNextOnes) {
    script->answerLater(reply(0, 0, 0, "late"));
    BeginRequest(form, 105006);
    Variant out;
    EXPECT_THROW(ExecuteRequest(form, 100, {}, {}, ' ', {}, {}, ' ', 0, out), EHostError);
    script->answer(reply(0, 0, 0, "second"));
    BeginRequest(form, 105006);
    script->releaseHeld();
    ExecuteRequest(form, 1000, {}, {}, ' ', {}, {}, ' ', 0, out);
    EXPECT_EQ(replyField(form, "error_info"), Variant("second"));
    EXPECT_EQ(arcom->droppedReplies(), 1u);
}

TEST_F(ScriptedPipelineTest, TheSessionsRefusalsAreSaidInWordsWithTheNumbersBehindTheDetails) {
    ScriptedDialogs::Installed dialogs;
    const struct {
        std::int64_t errorNo;
        const char* info;
        QString said;
    } refusals[] = {
        {1019, "操作员[1001]已停用",
         QStringLiteral("您的柜员号已停用，不能再办理业务。\n请联系管理员。")},
        {1015, "密码错误次数过多，请30秒后再试",
         QStringLiteral("密码错误次数过多，暂时不能办理业务。\n请稍后再试，或请联系管理员。")},
        {1013, "请先登录",
         QStringLiteral("本次登录已结束，业务没有办理。\n请重新登录柜台，或请联系管理员。")},
    };
    for (const auto& r : refusals) {
        script->answer(reply(static_cast<std::int32_t>(r.errorNo), r.errorNo, 1, r.info));
        BeginRequest(form, 105006);
        Variant out;
        ExecuteRequest(form, 1000, {}, {}, ' ', {}, {}, ' ', 0, out);
        ShowReplyError(form);
        const std::size_t at = dialogs->shown.size() - 1;
        EXPECT_EQ(dialogs->shown[at].text, r.said);
        EXPECT_EQ(dialogs->details[at],
                  ReplyErrorText(QString::number(r.errorNo), "1", QString::fromUtf8(r.info)));
    }
}

TEST_F(ScriptedPipelineTest, ALookUpWithoutAnAnswerSaysTheLookUpFailedAChangeMayBeUnfinished) {
    script->answerLater(reply(0, 0, 0, "late"));
    BeginRequest(form, 105006);
    Variant out;
    try {
        ExecuteRequest(form, 100, {}, {}, ' ', {}, {}, ' ', 0, out);
        ADD_FAILURE() << "no time-out raised";
    } catch (const EHostError& e) {
        EXPECT_EQ(QString::fromStdString(e.operatorText()),
                  QStringLiteral("后台没有及时应答，查询没有完成，请重试。"));
    }
    script->releaseHeld();
    script->answerLater(reply(0, 0, 0, "late"));
    BeginRequest(form, 730001);
    try {
        ExecuteRequest(form, 100, {}, {}, ' ', {}, {}, ' ', 0, out);
        ADD_FAILURE() << "no time-out raised";
    } catch (const EHostError& e) {
        EXPECT_TRUE(
            QString::fromStdString(e.operatorText()).contains(QStringLiteral("本次业务可能未完成")))
            << e.operatorText();
    }
    script->releaseHeld();
}
