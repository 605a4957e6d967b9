#include "AppFrame.h"
#include "BizForm.h"
#include "C_Marlo.h"
#include "C_MarloEntry.h"
#include "HostPtr.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstring>

TEST(Entry, DevInfoWritesAtMost33BytesAndTheVersionWords) {
    char buffer[64];
    std::memset(buffer, 0x7F, sizeof buffer);
    std::int32_t value1 = 0;
    std::int32_t value2 = 0;
    BizGetDevInfo(buffer, &value1, &value2);
    const std::size_t length = std::strlen(buffer);
    EXPECT_LE(length, 32u);
    // Chinese for the operator, whole characters within the 32 bytes.
    EXPECT_EQ(QString::fromUtf8(buffer, static_cast<qsizetype>(length)),
              QStringLiteral("VIP快速交易客户模块"));
    for (std::size_t i = length + 1; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], 0x7F) << "byte " << i << " written";
    EXPECT_EQ(value1, 0x00060000);
    EXPECT_EQ(value2, 0x000600F0);

    BizGetDevInfo(nullptr, &value1, &value2); // no buffer: nothing written, no crash
}

TEST(Entry, TheFiveMenuCodesAndTheirForms) {
    EXPECT_EQ(FindMenuFunction(730101)->formClass, FormClass::ClientSyncReq);
    EXPECT_STREQ(FindMenuFunction(730101)->caption, "VIP快速客户信息主动同步");
    for (std::uint32_t code : {730102u, 730103u, 730104u}) {
        EXPECT_EQ(FindMenuFunction(code)->formClass, FormClass::Clientmodi);
        EXPECT_STREQ(FindMenuFunction(code)->caption, "VIP客户开户");
    }
    EXPECT_EQ(FindMenuFunction(730105)->formClass, FormClass::QueryVipInfo);
    EXPECT_STREQ(FindMenuFunction(730105)->caption, "VIP快速交易客户信息");
    EXPECT_EQ(FindMenuFunction(0), nullptr);
    EXPECT_EQ(FindMenuFunction(730106), nullptr);
}

TEST(Entry, UnknownMenuCodeOpensNothingAndHoldsTheFrameOnlyForTheCall) {
    auto frame = HostPtr<counter::AppFrame>::adopt(new counter::AppFrame);
    EXPECT_EQ(BizEntry(0, 0, 0, frame.get(), 0), 0u);
    EXPECT_EQ(BizEntry(730199, 0, 0, frame.get(), 1), 0u);
    frame->AddRef();
    EXPECT_EQ(frame->Release(), 1u);
}

TEST(Entry, ShowOnlyShowsTheLiveFormAndNeverAClosedOne) {
    auto* form = new QWidget;
    FormReference(FormClass::Clientmodi) = form;
    EXPECT_EQ(BizEntry(730103, 0, 0, nullptr, 1), 0u);
    EXPECT_TRUE(form->isVisible());

    // The form closes and frees itself; the reference must not keep pointing at it.
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(FormReference(FormClass::Clientmodi).isNull());
    EXPECT_EQ(BizEntry(730102, 0, 0, nullptr, 1), 0u);
    EXPECT_EQ(BizEntry(730105, 0, 0, nullptr, 1), 0u); // never opened
}

// A host window of another toolkit (on Windows the host's HWND): the form embeds itself in a
// stand-in of it and lets go of the stand-in when it is attached anew and when it goes.
TEST(Entry, AFormInANativeHostWindowFreesItsStandInOnEveryPath) {
    QWindow host; // native, and no widget's: the form meets it as another program's window
    host.create();
    const auto before = QGuiApplication::allWindows().size();
    {
        TBizFormBase form;
        form.AttachToHost(730101, host.winId(), 0, nullptr);
        if (form.windowHandle() == nullptr || form.windowHandle()->parent() == nullptr)
            GTEST_SKIP() << "no foreign windows on " << qPrintable(QGuiApplication::platformName());
        EXPECT_EQ(form.windowHandle()->parent()->winId(), host.winId());
        // Attached again, the form keeps one stand-in beside its own window.
        form.AttachToHost(730101, host.winId(), 0, nullptr);
        EXPECT_EQ(form.windowHandle()->parent()->winId(), host.winId());
        EXPECT_EQ(QGuiApplication::allWindows().size(), before + 2);
    }
    EXPECT_EQ(QGuiApplication::allWindows().size(), before);
    EXPECT_TRUE(host.handle() != nullptr); // the host's own window stays
}
