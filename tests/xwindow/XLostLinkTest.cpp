// A request whose outcome is unknown, as an operator meets it: the counter on a back-office
// server over TCP, the server stopped (SIGSTOP) when 确定 is pressed and killed while the
// counter waits (the counter meets a broken link or a time-out). As after a refusal, nothing stays
// ready to be sent again: the edit and the panel are empty, 确定 is off and what the operator types
// goes into the identifier edit.
#include "XServerTest.h"

#include "ClientSyncReq.h"
#include "Clientmodi.h"
#include "TQzBitBtn.h"
#include "TQzEdit.h"
#include "ui_ClientSyncReq.h"
#include "ui_Clientmodi.h"

namespace {

template <class Form> class XLostLinkTest : public XServerTest<Form> {
protected:
    // Enter on 确定 with the server stopped; the server is killed while the counter waits,
    // and the counter's word on it is awaited.
    void pressOkAsTheLinkBreaks() {
        ASSERT_TRUE(xwindow::waitFor([&] { return this->form->ui().btnOk->hasFocus(); }));
        const std::size_t before = this->dialogs->shown.size();
        pressAndBreakTheLink();
        ASSERT_TRUE(xwindow::waitFor([&] { return this->dialogs->shown.size() > before; }, 15000));
        // A broken link or a time-out, as the transport meets it first: either way the
        // outcome is unknown.
        EXPECT_TRUE(this->dialogs->shown.back().text.contains(
            QStringLiteral("本次业务可能未完成，请查询确认后再重试。")))
            << this->dialogs->shown.back().text.toStdString();
    }

    // Enter with the server stopped, and the server killed once the request Enter sent is
    // under way (in the transcript): the counter is waiting for its reply then.
    void pressAndBreakTheLink() {
        const std::size_t sent = requestLines();
        ASSERT_EQ(kill(this->server.pid(), SIGSTOP), 0);
        xwindow::Child pressing = xwindow::xdotoolLater({"key", "Return"});
        ASSERT_TRUE(xwindow::waitFor([&] { return requestLines() > sent; }, 15000));
        xwindow::spin(300);
        ASSERT_EQ(kill(this->server.pid(), SIGKILL), 0);
        ASSERT_TRUE(xwindow::waitFor([&] { return pressing.finished(); }));
    }

    std::size_t requestLines() {
        QFile file(this->transcript);
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return static_cast<std::size_t>(file.readAll().count("\"dir\":\"request\""));
    }

    // The form as after a refusal: nothing identified, nothing ready to send, and the
    // operator's next digits in the identifier edit.
    void expectANewIdentificationIsNeeded() {
        EXPECT_TRUE(xwindow::waitFor([&] { return this->edit().hasFocus(); }));
        EXPECT_EQ(this->edit().text(), "");
        for (const QString& shown : this->panelTexts())
            EXPECT_EQ(shown, "");
        EXPECT_FALSE(this->form->ui().btnOk->isEnabled());
        ASSERT_TRUE(xwindow::type("8000"));
        EXPECT_TRUE(xwindow::waitFor([&] { return this->edit().text() == "8000"; }));
    }
};

using XLostLinkClientmodiTest = XLostLinkTest<TfrmClientmodi>;
using XLostLinkClientSyncReqTest = XLostLinkTest<TfrmClientSyncReq>;

} // namespace

TEST_F(XLostLinkClientmodiTest, AnOpenWhoseOutcomeIsUnknownLeavesNothingReadyToSendAgain) {
    openForm(730102);
    ASSERT_TRUE(xwindow::type("80000011"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hedDicrate->hasFocus(); }));
    ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
    ASSERT_TRUE(xwindow::type("0.80"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    pressOkAsTheLinkBreaks();
    EXPECT_EQ(requestsOf(730001).size(), 1u);
    expectANewIdentificationIsNeeded();
}

TEST_F(XLostLinkClientSyncReqTest, ASyncWhoseOutcomeIsUnknownLeavesNothingReadyToSendAgain) {
    openForm(730101);
    ASSERT_TRUE(xwindow::type("80000002"));
    ASSERT_TRUE(xwindow::keys({"Return"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().btnOk->isEnabled(); }));
    ASSERT_TRUE(xwindow::waitFor([&] { return form->ui().hcbOpType->hasFocus(); }));
    ASSERT_TRUE(xwindow::keys({"Tab"}));
    pressOkAsTheLinkBreaks();
    EXPECT_EQ(requestsOf(730000).size(), 1u);
    expectANewIdentificationIsNeeded();
}

TEST_F(XLostLinkClientSyncReqTest, ALookUpThatGotNoAnswerSaysTheLookUpFailedNotTheBusiness) {
    openForm(730101);
    ASSERT_TRUE(xwindow::type("80000002"));
    const std::size_t before = dialogs->shown.size();
    pressAndBreakTheLink();
    ASSERT_TRUE(xwindow::waitFor([&] { return dialogs->shown.size() > before; }, 15000));
    const QString said = dialogs->shown.back().text;
    EXPECT_TRUE(said.contains(QStringLiteral("查询没有完成，请重试。"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("可能未完成"))) << said.toStdString();
    EXPECT_TRUE(requestsOf(730000).empty());
}
