#include "HostFixture.h"
#include "ScriptedDialogs.h"

#include "C_MarloEntry.h"
#include "QZForm.h"
#include "TQzBitBtn.h"
#include "TQzEdit.h"
#include "Tools.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QTableWidget>
#include <QTest>

namespace {

int liveForms = 0;

// A business form as the forms of the module are built: controls on the form and in a
// group box, a grid and a button.
class TestForm : public TQZFormBase {
public:
    TestForm() {
        ++liveForms;
        top = new TQzEdit(this);
        top->setObjectName("top");
        top->setGeometry(10, 10, 100, 22);
        group = new QGroupBox(QStringLiteral("客户"), this);
        group->setGeometry(10, 40, 300, 120);
        for (int i = 0; i < 3; ++i) {
            inGroup[i] = new TQzEdit(group);
            inGroup[i]->setGeometry(10, 20 + 30 * i, 100, 22);
        }
        grid = new QTableWidget(3, 2, this);
        grid->setGeometry(10, 170, 200, 80);
        button = new TQzBitBtn(this);
        button->setText(QStringLiteral("确定"));
        button->setGeometry(220, 260, 80, 26);
        after = new TQzEdit(this);
        after->setGeometry(320, 260, 80, 22);
    }
    ~TestForm() override { --liveForms; }

    TQzEdit* top;
    QGroupBox* group;
    TQzEdit* inGroup[3];
    QTableWidget* grid;
    TQzBitBtn* button;
    TQzEdit* after;
    // The keys the form's own handler saw, with the control that had the focus then.
    std::vector<std::pair<int, QWidget*>> keysSeen;

protected:
    void HostAttached() override { LoadSession(); }
    void FormKeyDown(QKeyEvent* key) override {
        if (key->key() != Qt::Key_Shift) // the press of Shift itself, before Shift+Tab
            keysSeen.emplace_back(key->key(), QApplication::focusWidget());
    }
};

TQZFormBase* createTestForm() {
    return new TestForm;
}

void showActive(QWidget& w) {
    w.show();
    QApplication::setActiveWindow(&w);
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

QWidget* focused() {
    return QApplication::focusWidget();
}

void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(focused(), key, mods);
}

class FormTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        CommonInfo().dictionary = std::make_unique<TDictionary>();
        CommonInfo().businessList = std::make_unique<TBusinessList>();
        CommonInfo().branchList = std::make_unique<TBranchList>();
        CommonInfo().functions = std::make_unique<TFunctions>();
    }
    void TearDown() override {
        CommonInfo().dictionary.reset();
        CommonInfo().businessList.reset();
        CommonInfo().branchList.reset();
        CommonInfo().functions.reset();
        HostFixture::TearDown();
    }
};

} // namespace

TEST_F(FormTest, TabAndEnterKeepToTheGroupBoxAndWrapInsideIt) {
    TestForm form;
    form.InitFromHost(730101, 0, 0, frame.get());
    showActive(form);
    form.inGroup[2]->setFocus();
    press(Qt::Key_Tab);
    EXPECT_EQ(focused(), form.inGroup[0]); // wrapped inside the group box
    press(Qt::Key_Return);
    EXPECT_EQ(focused(), form.inGroup[1]);
    press(Qt::Key_Up);
    EXPECT_EQ(focused(), form.inGroup[0]);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focused(), form.inGroup[2]);
    // From the form's own controls the search is the form's: the group box is passed by.
    form.top->setFocus();
    press(Qt::Key_Down);
    EXPECT_EQ(focused(), form.grid);
}

TEST_F(FormTest, ArrowsStayInAGridEnterMovesOnAndEnterOnAButtonClicksIt) {
    TestForm form;
    form.InitFromHost(730101, 0, 0, frame.get());
    showActive(form);
    form.grid->setFocus();
    form.grid->setCurrentCell(0, 0);
    press(Qt::Key_Down);
    EXPECT_EQ(focused(), form.grid);
    EXPECT_EQ(form.grid->currentRow(), 1); // the grid used the arrow itself
    press(Qt::Key_Return);
    EXPECT_EQ(focused(), form.button);

    int clicks = 0;
    form.button->OnClick = [&](QObject* sender) {
        EXPECT_EQ(sender, form.button);
        ++clicks;
    };
    press(Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(focused(), form.button);
}

TEST_F(FormTest, FocusOnShowGoesToTheFirstControl) {
    TestForm form;
    form.top->setFocusPolicy(Qt::ClickFocus); // no tab stop: still taken on show
    form.InitFromHost(730101, 0, 0, frame.get());
    showActive(form);
    EXPECT_EQ(focused(), form.top);
}

TEST(WheelScroll, WholeNotchesTowardTheEndClamped) {
    EXPECT_EQ(TBizFormBase::WheelScroll(40, 100, 8, 119), 40); // less than a notch: nothing
    EXPECT_EQ(TBizFormBase::WheelScroll(40, 100, 8, -240), 56);
    EXPECT_EQ(TBizFormBase::WheelScroll(95, 100, 8, -240), 100);
    EXPECT_EQ(TBizFormBase::WheelScroll(10, 100, 8, 240), 0);
    EXPECT_EQ(TBizFormBase::WheelScroll(40, 100, 8, 0xFF10), 56); // -240 as 16 bits
}

TEST_F(FormTest, ClosingDetachesTheSinkAndTellsTheHostEvenWithoutACommunicationObject) {
    struct CloseWatcher : QWidget {
        int closes = 0;
        void closeEvent(QCloseEvent* e) override {
            ++closes;
            e->ignore();
        }
    } notify;
    const WindowHandle notifyHandle = notify.winId();
    QWidget host;
    const WindowHandle hostHandle = host.winId();

    frame->setObject("ARCom", nullptr);
    QPointer<TestForm> form = new TestForm;
    form->InitFromHost(730101, hostHandle, notifyHandle, frame.get());
    EXPECT_EQ(form->parentWidget(), &host);
    EXPECT_EQ(form->GetARCom(), nullptr);
    form->close();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(notify.closes, 1);
    EXPECT_TRUE(form.isNull()); // the form freed itself

    frame->setObject("ARCom", static_cast<IARCom*>(arcom.get()));
    auto* second = new TestForm;
    second->InitFromHost(730101, hostHandle, notifyHandle, frame.get());
    ASSERT_EQ(arcom->attachSink(second->GetSink()), hr::ok);
    second->close();
    EXPECT_EQ(arcom->sinkCount(), 0u);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(notify.closes, 2);
}

TEST_F(FormTest, EventSinkAnswersAsGivenAndPassesEventsOn) {
    TestForm form;
    form.InitFromHost(730101, 0, 0, frame.get());
    IARComEvents* sink = form.GetSink();
    void* object = nullptr;
    EXPECT_EQ(sink->QueryInterface(IAppFrame::iid, &object), hr::ok); // any id: itself
    EXPECT_EQ(object, sink);
    EXPECT_EQ(sink->AddRef(), 2u);
    EXPECT_EQ(sink->Release(), 1u);
    std::uint32_t count = 7;
    EXPECT_EQ(sink->GetTypeInfoCount(&count), static_cast<HRESULT>(0x80004001u));
    EXPECT_EQ(sink->Invoke(0, IUnknown::iid, 0, 0, nullptr, nullptr, nullptr, nullptr),
              hr::notImplemented);
    std::int32_t seen = 0;
    form.OnReply = [&](std::int32_t id, const Variant& pack) {
        seen = id;
        EXPECT_EQ(pack, Variant("p"));
    };
    EXPECT_EQ(sink->OnReply(5, Variant("p")), hr::ok);
    EXPECT_EQ(seen, 5);
    form.OnError = nullptr;
    EXPECT_EQ(sink->OnError(1, 2, "x"), hr::ok); // no handler: nothing, still 0
}

TEST_F(FormTest, SessionLoadsInOrderWithEmptyCharactersAsNul) {
    setSession("8", "1001", "pw", "张敏", "00-1A", "", "", "1");
    TestForm form;
    storage->reads.clear();
    form.InitFromHost(730101, 0, 0, frame.get());
    const std::vector<std::string> order{"BranchNo", "OperCode",     "Password",    "OperName",
                                         "MAC",      "OperatorKind", "ClientInput", "MainBranchNo"};
    ASSERT_GE(storage->reads.size(), order.size());
    EXPECT_EQ(std::vector<std::string>(storage->reads.begin(), storage->reads.begin() + 8), order);
    const TRCommonInfo& info = CommonInfo();
    EXPECT_EQ(info.branchNo, 8);
    EXPECT_EQ(info.operName, "张敏");
    EXPECT_EQ(info.operatorKind, '\0');
    EXPECT_EQ(info.clientInput, '\0');
    EXPECT_EQ(info.mainBranchNo, 1);
    EXPECT_EQ(info.clientBranchNo, 0);
    EXPECT_EQ(info.currentDir, "/srv/counter");
    EXPECT_EQ(form.ClientInputKind(), '\0');
    storage->SetValue("ClientInput", Variant("6"));
    EXPECT_EQ(form.ClientInputKind(), '6'); // read afresh
    EXPECT_NE(form.UserBranchs(), nullptr);
    EXPECT_EQ(form.UserFunctions(), nullptr); // the host has none: not an error
}

TEST_F(FormTest, BranchNoThatIsNotANumberAbortsTheOpening) {
    storage->SetValue("BranchNo", Variant("八"));
    const MenuFunction* function = FindMenuFunction(730101);
    EXPECT_EQ(OpenForm(*function, &createTestForm, 0, 0, frame.get()), 0u);
    EXPECT_EQ(liveForms, 0);
    EXPECT_TRUE(FormReference(FormClass::ClientSyncReq).isNull());

    storage->SetValue("BranchNo", Variant(std::int64_t{8}));
    const WindowHandle handle = OpenForm(*function, &createTestForm, 0, 0, frame.get());
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(liveForms, 1);
    QWidget* form = QWidget::find(static_cast<WId>(handle));
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("VIP快速客户信息主动同步"));
    delete form;
}

TEST_F(FormTest, TheFormsOwnKeyHandlerSeesAKeyThatMovedTheFocusAndTheControlDoesNot) {
    TestForm form;
    form.InitFromHost(730101, 0, 0, frame.get());
    showActive(form);
    form.grid->setCurrentCell(0, 0);
    // Down from the edit above the grid: the focus moves into the grid, the form's handler
    // sees the key there, and the grid does not move its row on the same key.
    form.top->setFocus();
    press(Qt::Key_Down);
    ASSERT_EQ(focused(), form.grid);
    EXPECT_EQ(form.grid->currentRow(), 0);
    press(Qt::Key_Tab);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    form.after->setFocus();
    press(Qt::Key_Up);
    EXPECT_EQ(focused(), form.button);
    const std::vector<std::pair<int, QWidget*>> expected{{Qt::Key_Down, form.grid},
                                                         {Qt::Key_Tab, form.button},
                                                         {Qt::Key_Backtab, form.grid},
                                                         {Qt::Key_Up, form.button}};
    EXPECT_EQ(form.keysSeen, expected);
    EXPECT_EQ(form.grid->currentRow(), 0);
}

TEST_F(FormTest, AFormChosenAgainStartsAtItsFirstControlWithTheTextSelected) {
    TestForm form;
    form.InitFromHost(730101, 0, 0, frame.get());
    showActive(form);
    form.top->setText(QStringLiteral("80000001"));
    form.button->setFocus();
    form.ChosenAgain();
    EXPECT_EQ(focused(), form.top);
    EXPECT_EQ(form.top->selectedText(), QStringLiteral("80000001")) << "typed over, not lost";
}

TEST_F(FormTest, ShadowsAtTheEdgesOfA459By310Form) {
    TestForm form;
    form.resize(459, 310);
    {
        // An empty framework form as the operator sees it, shadows along its edges.
        QWidget frameOfHost;
        frameOfHost.setStyleSheet(QStringLiteral("background: white"));
        frameOfHost.resize(480, 330);
        TQZFormBase empty(&frameOfHost);
        empty.setAutoFillBackground(true);
        empty.move(6, 6);
        frameOfHost.show();
        QDir().mkpath(QStringLiteral(SCREEN_DIR));
        EXPECT_TRUE(frameOfHost.grab().save(QStringLiteral(SCREEN_DIR "/framework-form.png")));
    }
    EXPECT_EQ(form.rightPanel()->geometry(), QRect(457, 0, 8, 316));
    EXPECT_EQ(form.bottomPanel()->geometry(), QRect(0, 308, 465, 8));
    // Three quarters of each strip lie outside the form, where nothing of the form paints:
    // the strips are not drawn, rather than drawn as a stray line.
    form.show();
    EXPECT_FALSE(form.rightPanel()->isVisible());
    EXPECT_FALSE(form.bottomPanel()->isVisible());
    for (const char* name : {"RightTopShadow", "RightShadow", "BottomLeftShadow", "BottomShadow",
                             "BottomRightShadow"}) {
        auto* image = form.findChild<QLabel*>(name);
        ASSERT_NE(image, nullptr) << name;
        EXPECT_FALSE(image->pixmap().isNull()) << name << " was not decoded";
    }
}

TEST_F(FormTest, AHandlerThatRaisesShowsTheErrorAndTheFormCarriesOn) {
    ScriptedDialogs::Installed dialogs;
    TestForm form;
    form.InitFromHost(730101, 0, 0, frame.get());
    showActive(form);
    form.button->OnClick = [](QObject*) { throw EHostError("Receive", hr::timeout); };
    // The operator's words are raised as such; a plain message would be a technical line.
    form.top->OnValidate = [](QObject*, bool&) { throw EDetailedError("校验失败"); };
    form.button->click();
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Error);
    // A host failure without the host's description: words for the operator, the operation
    // and its status only behind the details.
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("主机操作失败，本次操作未完成。"));
    EXPECT_EQ(dialogs->details[0], QStringLiteral("Receive failed with status 0x80041002"));

    form.top->setFocus();
    QTest::keyClicks(form.top, "12");
    press(Qt::Key_Return);
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[1].text, QStringLiteral("校验失败"));
    EXPECT_EQ(dialogs->details[1], QString());
    EXPECT_EQ(focused(), form.top); // the rejected entry keeps the operator in the field
    form.top->OnValidate = nullptr;
    press(Qt::Key_Return);
    EXPECT_NE(focused(), form.top); // and the form carries on

    // A technical message of the module's own: words for the operator, the message behind
    // the details; the host's own description in front of the status line.
    form.button->OnClick = [](QObject*) { throw EConvertError("'x' is not a valid integer"); };
    form.button->click();
    ASSERT_EQ(dialogs->shown.size(), 3u);
    EXPECT_EQ(dialogs->shown[2].text, QStringLiteral("程序内部错误，本次操作未完成。"));
    EXPECT_EQ(dialogs->details[2], QStringLiteral("'x' is not a valid integer"));
    form.button->OnClick = [](QObject*) {
        throw EHostError("ARCom.Send", hr::transportBroken, "与后台的连接已断开，请稍后重试。");
    };
    form.button->click();
    ASSERT_EQ(dialogs->shown.size(), 4u);
    EXPECT_EQ(dialogs->shown[3].text, QStringLiteral("与后台的连接已断开，请稍后重试。"));
    EXPECT_EQ(dialogs->details[3], QStringLiteral("ARCom.Send failed with status 0x80041004"));
}
