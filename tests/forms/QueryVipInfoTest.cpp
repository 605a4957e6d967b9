#include "../framework/HostFixture.h"
#include "ScriptedDialogs.h"
#include "TranscriptHost.h"
#include "WhenShown.h"

#include "C_Marlo.h"
#include "CounterHost.h"
#include "Dictionary.h"
#include "QueryVipInfo.h"
#if !defined(MARLO_REPLAYED_BACK_OFFICE)
#include "Seed.h"
#endif
#include "TQZListViewEx.h"
#include "TQzCheckCombo.h"
#include "TranscriptTransport.h"
#include "ui_QueryVipInfo.h"
#include "ui_VipInfoCondition.h"
#include "ui_waitquery.h"
#include "waitquery.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QScreen>

#include <atomic>
#include <mutex>
#include <set>

namespace {

// Holds the back office's replies back while `holding` is set, until release().
struct Hold {
    std::atomic<bool> holding{false};
    std::mutex mutex;
    std::vector<std::pair<std::int64_t, std::string>> held;
    counter::Transport::Callbacks callbacks;

    void release() {
        holding = false;
        std::vector<std::pair<std::int64_t, std::string>> replies;
        {
            std::lock_guard lock(mutex);
            replies.swap(held);
        }
        for (auto& [id, reply] : replies)
            callbacks.deliver(id, std::move(reply));
    }
};

class HoldingTransport final : public counter::Transport {
public:
    HoldingTransport(std::unique_ptr<counter::Transport> inner, std::shared_ptr<Hold> hold)
        : inner_(std::move(inner)), hold_(std::move(hold)) {}
    ~HoldingTransport() override { inner_.reset(); }
    void connect(Callbacks callbacks) override {
        hold_->callbacks = callbacks;
        inner_->connect({[hold = hold_](std::int64_t id, std::string reply) {
                             std::unique_lock lock(hold->mutex);
                             if (hold->holding) {
                                 hold->held.emplace_back(id, std::move(reply));
                                 return;
                             }
                             lock.unlock();
                             hold->callbacks.deliver(id, std::move(reply));
                         },
                         callbacks.broken});
    }
    HRESULT submit(std::int64_t packetId, std::string request) override {
        return inner_->submit(packetId, std::move(request));
    }

private:
    std::unique_ptr<counter::Transport> inner_;
    std::shared_ptr<Hold> hold_;
};

// A back office of 200 generated clients, 120 of them VIP, over three branches.
class QueryVipInfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dbDir = new QTemporaryDir;
#if !defined(MARLO_REPLAYED_BACK_OFFICE)
        backoffice::Database db(dbDir->filePath("vip.db").toStdString(), true);
        backoffice::seedGenerated(db, 200, 60);
#endif
    }
    static void TearDownTestSuite() {
        delete dbDir;
        dbDir = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        BizInit(0, nullptr, nullptr, 0);
        ASSERT_TRUE(dir.isValid());
        QFile::copy(dbDir->filePath("vip.db"), dir.filePath("vip.db"));
        transcript = dir.filePath("transcript.jsonl");
        host =
            std::make_unique<counter::CounterHost>(std::make_unique<counter::TranscriptTransport>(
                std::make_unique<HoldingTransport>(backOfficeTransport(dir.filePath("vip.db")),
                                                   hold),
                transcript.toStdString()));
        ASSERT_EQ(host->login("1001", "pass1001", "1"), "");
        form = new TfrmQueryVipInfo;
        form->InitFromHost(730105, 0, 0, host->appFrame());
        form->show();
    }
    void TearDown() override {
        delete form.data();
        BizUninit();
        counter::unregisterHostClasses();
    }

    TQZListViewEx& list() {
        return *form->ui().lvVipClientInfo;
    }

    // The 730004 requests sent so far, as their transcript lines.
    QStringList queries() {
        QFile file(transcript);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QStringList found;
        for (const QString& line :
             QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
            if (line.contains(QStringLiteral("\"dir\":\"request\"")) &&
                line.contains(QStringLiteral("\"function\":730004")))
                found << line;
        }
        return found;
    }
    static bool has(const QString& line, const QString& field, const QString& value) {
        return line.contains(QStringLiteral("[\"%1\",%2]").arg(field, value));
    }

    void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QApplication::setActiveWindow(form);
        list().setFocus();
        QTest::keyClick(&list(), key, mods);
    }

    void whenConditionsShow(std::function<void(TfrmVipInfoCondition&)> act) {
        WhenShown<TfrmVipInfoCondition>(&VipInfoConditionDialog, std::move(act));
    }

    inline static QTemporaryDir* dbDir = nullptr;
    std::shared_ptr<Hold> hold = std::make_shared<Hold>();
    QTemporaryDir dir;
    QString transcript;
    std::unique_ptr<counter::CounterHost> host;
    QPointer<TfrmQueryVipInfo> form;
};

} // namespace

TEST_F(QueryVipInfoTest, OpeningSendsOneRequestForTheFirstPage) {
    const QStringList sent = queries();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_TRUE(has(sent[0], "position_str", "\"0\""));
    EXPECT_TRUE(has(sent[0], "request_num", "30"));
    EXPECT_TRUE(has(sent[0], "en_branch_no", "\"\""));
    EXPECT_TRUE(has(sent[0], "fund_account", "0"));
    EXPECT_TRUE(has(sent[0], "branch_no", "0"));
    EXPECT_TRUE(has(sent[0], "op_password", "\"***\""));
    EXPECT_EQ(list().rowCount(), 30);
    EXPECT_EQ(list().ItemIndex(), 0);
    EXPECT_EQ(WaitQuery(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(QueryVipInfoTest, ANewPageContinuesAfterTheLastRowsFundAccount) {
    const std::int64_t last = list().GetMasterData(29, "fund_account").toInteger();
    list().OnGetNewPage(&list(), 0, 0);
    const QStringList sent = queries();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_TRUE(has(sent[1], "position_str", QStringLiteral("\"%1\"").arg(last)));
    EXPECT_EQ(list().rowCount(), 60);
    EXPECT_GT(list().GetMasterData(30, "fund_account").toInteger(), last);
    EXPECT_EQ(list().ItemIndex(), 0);

    // Keying past the last row pages too, and the operator lands on the next row.
    list().setItemIndex(59);
    EXPECT_EQ(list().rowCount(), 60); // selecting asks for no page
    press(Qt::Key_Down);
    EXPECT_EQ(queries().size(), 3);
    EXPECT_EQ(list().rowCount(), 90);
    EXPECT_EQ(list().ItemIndex(), 60);
}

TEST_F(QueryVipInfoTest, PagingWithTheKeysKeepsTheHighlightedRowCurrent) {
    form->resize(459, 310);
    QApplication::setActiveWindow(form);
    list().setFocus();
    const auto highlighted = [&] {
        const QModelIndexList rows = list().selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    };
    // Down row by row past the end of the first page, and on into the second.
    for (int row = 1; row <= 34; ++row) {
        QTest::keyClick(&list(), Qt::Key_Down);
        ASSERT_EQ(list().ItemIndex(), row);
        ASSERT_EQ(highlighted(), row);
    }
    EXPECT_EQ(list().rowCount(), 60);
    list().window()->grab().save(QStringLiteral(SCREEN_DIR "/vip-list-after-down.png"));

    // Page Down to the end and past it: each key goes on from the highlighted row.
    int before = list().ItemIndex();
    for (int key = 0; key < 8; ++key) {
        QTest::keyClick(&list(), Qt::Key_PageDown);
        ASSERT_GT(list().ItemIndex(), before);
        ASSERT_EQ(highlighted(), list().ItemIndex());
        before = list().ItemIndex();
    }
    EXPECT_GT(list().rowCount(), 60);
    QTest::keyClick(&list(), Qt::Key_Down);
    EXPECT_EQ(list().ItemIndex(), before + 1);
    EXPECT_EQ(highlighted(), before + 1);
    // The row the operator is on can be seen.
    const QRect shown = list().visualRect(list().model()->index(list().ItemIndex(), 0));
    EXPECT_TRUE(list().viewport()->rect().intersects(shown));
    list().window()->grab().save(QStringLiteral(SCREEN_DIR "/vip-list-after-pgdn.png"));
}

TEST_F(QueryVipInfoTest, F5RefreshesFromTheFirstPageOnlyWithoutShiftAndEscCloses) {
    list().OnGetNewPage(&list(), 0, 0);
    press(Qt::Key_F5, Qt::ControlModifier);
    press(Qt::Key_F5, Qt::ShiftModifier);
    EXPECT_EQ(queries().size(), 2);
    press(Qt::Key_F5);
    const QStringList sent = queries();
    ASSERT_EQ(sent.size(), 3);
    EXPECT_TRUE(has(sent[2], "position_str", "\"0\"")); // not the last page's cursor
    EXPECT_EQ(list().rowCount(), 30);

    press(Qt::Key_Escape, Qt::ControlModifier);
    EXPECT_TRUE(form->isVisible());
    press(Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
}

TEST_F(QueryVipInfoTest, ConditionsFilterByBranchAndCancelChangesNothing) {
    whenConditionsShow([](TfrmVipInfoCondition& d) { d.ui().hbtnCancel->click(); });
    form->ui().hbtQuery->click();
    EXPECT_EQ(queries().size(), 1);
    EXPECT_EQ(form->condition.en_branch_no, "");

    whenConditionsShow([](TfrmVipInfoCondition& d) {
        EXPECT_EQ(d.ui().hccmbBranchNo->GetItems().size(), 4);
        EXPECT_EQ(d.ui().cmfundaccout->text(), "") << "empty is every account, not a 0";
        d.ui().hccmbBranchNo->setText("9");
        d.ui().hbtnOK->click();
    });
    form->ui().hbtQuery->click();
    const QStringList sent = queries();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_TRUE(has(sent[1], "en_branch_no", "\"9\""));
    ASSERT_GT(list().rowCount(), 0);
    std::set<std::int64_t> branches;
    for (int r = 0; r < list().rowCount(); ++r)
        branches.insert(list().GetMasterData(r, "branch_no").toInteger());
    EXPECT_EQ(branches, (std::set<std::int64_t>{9}));
    EXPECT_TRUE(VipInfoConditionDialog().isNull());
}

TEST_F(QueryVipInfoTest, TheConditionDialogGoesOnWithEnterAndCancelsWithEsc) {
    const std::int64_t account = list().GetMasterData(3, "fund_account").toInteger();
    whenConditionsShow([account](TfrmVipInfoCondition& d) {
        QApplication::setActiveWindow(&d);
        QLineEdit* edit = d.ui().cmfundaccout;
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::number(account));
        QTest::keyClick(edit, Qt::Key_Return); // on to "确 定"
        EXPECT_TRUE(d.ui().hbtnOK->hasFocus());
        EXPECT_TRUE(d.isVisible());
        d.grab().save(QStringLiteral(SCREEN_DIR "/vip-conditions.png"));
        QTest::keyClick(d.ui().hbtnOK, Qt::Key_Return); // presses it
    });
    form->ui().hbtQuery->click();
    EXPECT_TRUE(VipInfoConditionDialog().isNull());
    EXPECT_EQ(form->condition.fund_account, account);
    ASSERT_EQ(queries().size(), 2);
    EXPECT_EQ(list().rowCount(), 1);

    // Enter on the branch combo moves on too; Esc anywhere cancels.
    whenConditionsShow([](TfrmVipInfoCondition& d) {
        QApplication::setActiveWindow(&d);
        d.ui().hccmbBranchNo->setFocus();
        QTest::keyClick(d.ui().hccmbBranchNo, Qt::Key_Return);
        EXPECT_TRUE(d.ui().cmfundaccout->hasFocus());
        d.ui().cmfundaccout->setText("1");
        QTest::keyClick(d.ui().cmfundaccout, Qt::Key_Escape);
    });
    form->ui().hbtQuery->click();
    EXPECT_EQ(form->condition.fund_account, account);
    for (const QString& sent : queries())
        EXPECT_FALSE(has(sent, "fund_account", "1")); // the cancelled entry went nowhere
}

TEST_F(QueryVipInfoTest, ConditionDialogTurnsBadEntriesIntoNoCondition) {
    // A branch set large enough for a selection over 255 characters.
    protocol::PacketWriter w(100002, 0);
    w.addField("branch_no", protocol::FieldType::Text);
    w.addField("branch_name", protocol::FieldType::Text);
    w.addField("branch_type", protocol::FieldType::Text);
    for (int b = 1000; b < 1100; ++b) {
        w.beginRecord();
        w.text(std::to_string(b));
        w.text("营业部" + std::to_string(b));
        w.text("1");
    }
    std::string packet;
    w.finish(packet);
    auto many = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "unpacker");
    check(many->Open(Variant::fromBytes(packet)), "Open");
    CommonInfo().branchList->connect(many.get());

    form->condition.fund_account = 80000001;
    whenConditionsShow([](TfrmVipInfoCondition& d) {
        EXPECT_EQ(d.ui().cmfundaccout->text(), "80000001");
        QStringList all;
        for (int b = 1000; b < 1100; ++b)
            all << QString::number(b);
        d.ui().hccmbBranchNo->setText(all.join(','));
        d.ui().cmfundaccout->setText("12ab");
        d.ui().hbtnOK->click();
    });
    form->ui().hbtQuery->click();
    EXPECT_EQ(form->condition.en_branch_no, "");
    EXPECT_EQ(form->condition.fund_account, 0);
}

TEST_F(QueryVipInfoTest, AServerErrorLeavesTheListAndRestoresCursorAndPopup) {
    ScriptedDialogs::Installed dialogs;
    HostPtr<IUnknown> object;
    check(host->appFrame()->GetObject("PersonalData", object.put()), "PersonalData");
    object.as<IDataContainer>("storage")->SetValue("Password", Variant("wrong"));
    list().OnGetNewPage(&list(), 0, 0);
    EXPECT_EQ(list().rowCount(), 30); // as it was
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, MessageDialogs::Kind::Warning);
    EXPECT_TRUE(dialogs->shown[0].text.contains(QStringLiteral("错误信息:操作员[1001]密码错误")));
    EXPECT_EQ(WaitQuery(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    press(Qt::Key_F5);
    EXPECT_EQ(list().rowCount(), 0); // after a refresh it stays empty
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(QueryVipInfoTest, BranchesShowTheirDictionaryNames) {
    const QString shown = list().model()->index(0, 0).data().toString();
    const std::int64_t branch = list().GetMasterData(0, "branch_no").toInteger();
    const QString expected = branch == 8   ? QStringLiteral("深圳营业部")
                             : branch == 9 ? QStringLiteral("上海营业部")
                                           : QStringLiteral("北京营业部");
    EXPECT_EQ(shown, expected);
}

TEST_F(QueryVipInfoTest, HeadersShowTheDictionaryCaptionsAndColumnsStayBoundByFieldName) {
    QHeaderView* header = list().horizontalHeader();
    const auto headerText = [&](int column) {
        return list().model()->headerData(column, Qt::Horizontal).toString();
    };
    EXPECT_EQ(headerText(0), QStringLiteral("营业部"));
    EXPECT_EQ(headerText(1), QStringLiteral("客户编号"));
    EXPECT_EQ(headerText(2), QStringLiteral("资产账号"));
    EXPECT_EQ(headerText(3), QStringLiteral("佣金折扣"));
    EXPECT_EQ(header->count(), 4);
    // Each column still shows the reply field its caption names.
    const QString account =
        QString::fromStdString(list().GetMasterData(0, "fund_account").toText());
    EXPECT_FALSE(account.isEmpty());
    EXPECT_EQ(list().model()->index(0, 2).data().toString(), account);

    // A dictionary without a caption for a field: that header shows the field name.
    auto partial = HostPtr<counter::Dictionary>::adopt(new counter::Dictionary);
    partial->add(TListViewModel::fieldNameDictionary, "client_id", "客户号");
    list().setDictionary(partial.get());
    EXPECT_EQ(headerText(0), QStringLiteral("branch_no"));
    EXPECT_EQ(headerText(1), QStringLiteral("客户号"));
    EXPECT_EQ(headerText(3), QStringLiteral("discount_rate"));
    EXPECT_EQ(list().model()->index(0, 2).data().toString(), account);
    list().setDictionary(nullptr);
    EXPECT_EQ(headerText(1), QStringLiteral("client_id"));
}

namespace {
// The popup as its window shows it on the screen, not painted afresh for the test.
QImage onScreen(QWidget* window) {
    return window->screen()->grabWindow(window->winId()).toImage();
}

// Pixels of that colour in the part of the picture.
int pixelsOf(const QImage& image, const QRect& part, const QColor& colour) {
    int n = 0;
    for (int y = part.top(); y <= part.bottom(); ++y) {
        for (int x = part.left(); x <= part.right(); ++x)
            n += image.pixelColor(x, y) == colour;
    }
    return n;
}
} // namespace

TEST_F(QueryVipInfoTest, TheWaitPopupPaintsAndPlaysWhileTheReplyIsHeldBack) {
    QDir().mkpath(QStringLiteral(SCREEN_DIR));
    struct Seen {
        bool popup = false;
        QString text;
        QImage first, second;
        int rowsMeanwhile = -1;
    } seen;
    hold->holding = true;
    QTimer::singleShot(300, [&] {
        if (TfrmWaitQuery* popup = WaitQuery(); popup && popup->isVisible()) {
            seen.popup = true;
            seen.text = popup->ui().Label2->text();
            seen.first = onScreen(popup);
        }
        seen.rowsMeanwhile = list().rowCount();
    });
    QTimer::singleShot(700, [&] {
        if (TfrmWaitQuery* popup = WaitQuery())
            seen.second = onScreen(popup);
        hold->release();
    });
    press(Qt::Key_F5); // returns once the held reply has come

    ASSERT_TRUE(seen.popup);
    EXPECT_EQ(seen.text, QStringLiteral("正在查询，请稍等......"));
    EXPECT_EQ(seen.rowsMeanwhile, 0); // the refresh waits for its reply
    seen.first.save(QStringLiteral(SCREEN_DIR "/wait-popup-held-1.png"));
    seen.second.save(QStringLiteral(SCREEN_DIR "/wait-popup-held-2.png"));
    // The text is on the screen in its blue over its white shadow...
    const QRect text(72, 30, 300, 36);
    EXPECT_GT(pixelsOf(seen.first, text, QColor(0, 0, 255)), 200);
    EXPECT_GT(pixelsOf(seen.first, text, QColor(Qt::white)), 50);
    // ...and the animation has moved on between the two pictures.
    const QRect animation(12, 24, 48, 48);
    ASSERT_FALSE(seen.second.isNull());
    EXPECT_NE(seen.first.copy(animation), seen.second.copy(animation));
    EXPECT_EQ(seen.first.copy(text), seen.second.copy(text));

    EXPECT_EQ(list().rowCount(), 30);
    EXPECT_EQ(WaitQuery(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(WaitQuery, BothStylesAndTheAnimationFromBesideTheHost) {
    QDir().mkpath(QStringLiteral(SCREEN_DIR));
    ShowWaitQuery(QStringLiteral("正在查询，请稍等......"), 1);
    TfrmWaitQuery* popup = WaitQuery();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->ui().Label2->text(), QStringLiteral("正在查询，请稍等......"));
    EXPECT_EQ(popup->windowTitle(), QStringLiteral("正在查询，请稍等......"));
    EXPECT_EQ(popup->ui().Label2->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(popup->ui().Label1->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(popup->ui().Label2->font().pixelSize(), 24);
    EXPECT_TRUE(popup->ui().Label2->font().bold());
    // The test binary's folder holds the counter's Wait.avi too.
    EXPECT_TRUE(popup->ui().Animate1->isActive());
    popup->grab().save(QStringLiteral(SCREEN_DIR "/wait-popup.png"));
    CloseWaitQuery();
    EXPECT_EQ(WaitQuery(), nullptr);

    ShowWaitQuery(QStringLiteral("x"), 2);
    EXPECT_EQ(WaitQuery()->ui().Label2->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    EXPECT_EQ(WaitQuery()->palette().color(QPalette::Window), QColor(0, 128, 128));
    WaitQuery()->grab().save(QStringLiteral(SCREEN_DIR "/wait-popup-style2.png"));
    CloseWaitQuery();
}
