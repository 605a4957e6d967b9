#include "../framework/HostFixture.h"

#include "AviFile.h"
#include "EventBarrier.h"
#include "TAnimate.h"
#include "TPasswordEdit.h"
#include "TQZIDEdit.h"
#include "TQZListViewEx.h"
#include "TQZSwitchLabel.h"
#include "TQzBitBtn.h"
#include "TQzCheckCombo.h"
#include "TQzComboBox.h"
#include "TQzEdit.h"
#include "Tools.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

namespace {

void showActive(QWidget& w) {
    w.show();
    QApplication::setActiveWindow(&w);
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

// An identifier edit and a plain edit after it, in a window.
struct EditWindow : QWidget {
    EditWindow() {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(label = new TQZSwitchLabel);
        layout->addWidget(edit = new TQZIDEdit);
        layout->addWidget(next = new TQzEdit);
        label->setItems(edit->Captions());
        label->setEdit(edit);
    }
    TQZSwitchLabel* label;
    TQZIDEdit* edit;
    TQzEdit* next;
};

Variant vipPage(int first, int count) {
    protocol::PacketWriter w(730004, 0);
    w.addField("branch_no", protocol::FieldType::Integer);
    w.addField("client_id", protocol::FieldType::Text);
    w.addField("fund_account", protocol::FieldType::Integer);
    w.addField("discount_rate", protocol::FieldType::Real);
    w.addField("remark", protocol::FieldType::Text);
    for (int i = first; i < first + count; ++i) {
        w.beginRecord();
        w.integer(i % 2 ? 8 : 9);
        w.text("C" + std::to_string(i));
        w.integer(80000000 + i);
        w.real(0.85);
        w.text("备注" + std::to_string(i));
    }
    std::string out;
    w.finish(out);
    return Variant::fromBytes(out);
}

} // namespace

TEST(TQZIDEdit, KindsWaysAndTheExchange) {
    TQZIDEdit edit;
    const char expected[6] = {'1', '5', '3', '4', '2', '6'};
    for (int way = 0; way < 6; ++way) {
        edit.setInputWay(way);
        EXPECT_EQ(edit.GetWay(), expected[way]);
    }
    edit.SetWay('3');
    EXPECT_EQ(edit.InputWay(), TQZIDEdit::iwFundCard);
    edit.SetWay('9'); // not a way: unchanged
    EXPECT_EQ(edit.InputWay(), TQZIDEdit::iwFundCard);
    EXPECT_EQ(edit.GetExchange(), "");
    edit.setInputWay(TQZIDEdit::iwStockAccount);
    EXPECT_EQ(edit.GetExchange(), "1");
    QTest::keyClick(&edit, Qt::Key_PageDown);
    EXPECT_EQ(edit.GetExchange(), "2");
    QTest::keyClick(&edit, Qt::Key_PageUp);
    QTest::keyClick(&edit, Qt::Key_PageUp);
    EXPECT_EQ(edit.GetExchange(), "F4");
    edit.setInputWay(TQZIDEdit::iwFundAccount);
    EXPECT_EQ(edit.GetExchange(), ""); // only a shareholder account has an exchange
}

TEST(TQZIDEdit, ValidateThenSubAccountValidateOnEnterAndOnLeaving) {
    EditWindow w;
    showActive(w);
    std::vector<std::string> events;
    w.edit->OnValidate = [&](QObject*, bool& valid) {
        events.push_back("validate " + w.edit->text().toStdString());
        valid = w.edit->text() != "bad";
    };
    w.edit->OnSubAccountValidate = [&](QObject*, bool&) { events.push_back("sub"); };
    w.edit->setInputWay(TQZIDEdit::iwFundAccount);
    w.edit->setFocus();
    QTest::keyClicks(w.edit, "80000001");
    QTest::keyClick(w.edit, Qt::Key_Return);
    EXPECT_EQ(events, (std::vector<std::string>{"validate 80000001", "sub"}));

    // Leaving after typing validates; leaving again without typing does not.
    QTest::keyClicks(w.edit, "2");
    w.next->setFocus();
    EXPECT_EQ(events.size(), 4u);
    w.edit->setFocus();
    w.next->setFocus();
    EXPECT_EQ(events.size(), 4u);

    // A rejected entry: no sub-account event, and the operator stays in the field.
    events.clear();
    w.edit->setFocus();
    w.edit->clear();
    QTest::keyClicks(w.edit, "bad");
    w.next->setFocus();
    EXPECT_EQ(events, (std::vector<std::string>{"validate bad"}));
    EXPECT_EQ(QApplication::focusWidget(), w.edit);
}

TEST(TQZIDEdit, AClientNumbersFundAccountsArePickedWithTheKeyboard) {
    EditWindow w;
    showActive(w);
    std::vector<std::string> events;
    w.edit->OnValidate = [&](QObject*, bool& valid) {
        events.push_back("validate");
        w.edit->setText("100001"); // the form writes the client number the server gives
        w.edit->SetSubAccounts({"80000001", "80000002"});
        valid = true;
    };
    w.edit->OnSubAccountValidate = [&](QObject*, bool&) {
        events.push_back("sub " + w.edit->PickedSubAccount().toStdString());
    };
    w.edit->setFocus();
    QTest::keyClicks(w.edit, "1");
    QTest::keyClick(w.edit, Qt::Key_Return);
    EXPECT_EQ(events, (std::vector<std::string>{"validate"})); // nothing before the pick
    QListWidget* list = w.edit->subAccountList();
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(list->count(), 2);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(events, (std::vector<std::string>{"validate", "sub 80000002"}));
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(w.edit->text(), "100001");
    w.edit->Clear();
    EXPECT_EQ(w.edit->PickedSubAccount(), "");
}

TEST(TQZSwitchLabel, ClickingSwitchesToTheNextKindWithACaption) {
    EditWindow w;
    w.show();
    w.edit->setInputWay(TQZIDEdit::iwBankCard);
    EXPECT_EQ(w.label->text(), "银行卡号");
    QTest::mouseClick(w.label, Qt::LeftButton);
    EXPECT_EQ(w.edit->InputWay(), TQZIDEdit::iwCustomerNo); // the kind without caption skipped
    EXPECT_EQ(w.label->text(), "客户编号");
    QTest::mouseClick(w.label, Qt::LeftButton);
    EXPECT_EQ(w.edit->InputWay(), TQZIDEdit::iwFundAccount);
    EXPECT_EQ(w.label->ItemIndex(), 0);
}

TEST(TQzEdit, NumericStyleKeepsToItsBound) {
    QWidget w;
    auto* rate = new TQzEdit(&w);
    auto* other = new TQzEdit(&w);
    rate->setScale(2);
    rate->setStyle(TQzEdit::esNumeric);
    rate->setMax(1);
    rate->setMaxable(true);
    showActive(w);
    rate->setFocus();
    QTest::keyClicks(rate, "0.855");
    EXPECT_EQ(rate->text(), "0.85"); // two decimals at most
    EXPECT_DOUBLE_EQ(rate->GetAsFloat(), 0.85);
    rate->clear();
    QTest::keyClicks(rate, "5");
    other->setFocus();
    // Over the bound the entry is refused and left for correction, never cut to the bound.
    EXPECT_EQ(rate->text(), "5");
    EXPECT_TRUE(rate->hasFocus());
    EXPECT_EQ(rate->selectedText(), "5");
    QTest::keyClicks(other, "x");
    int changes = 0;
    rate->OnChange = [&](QObject*) { ++changes; };
    rate->setText("0.5");
    EXPECT_EQ(changes, 1);
    TPasswordEdit password;
    password.setText("secret");
    EXPECT_EQ(password.GetAsPassword(), "secret");
    EXPECT_EQ(password.echoMode(), QLineEdit::Password);
}

TEST(TQzCheckCombo, ItsTextIsTheCheckedCodes) {
    TQzCheckCombo combo;
    combo.setItems({"1|总部", "8|深圳营业部", "9|上海营业部"});
    EXPECT_EQ(combo.text(), "");
    combo.setText("9, 1");
    EXPECT_EQ(combo.text(), "1,9"); // item order
    combo.toggle(1);
    EXPECT_EQ(combo.text(), "1,8,9");
    combo.toggle(0);
    EXPECT_EQ(combo.text(), "8,9");
    EXPECT_EQ(combo.GetItems().size(), 3);
}

TEST(TQzCheckCombo, OpeningTicksNothingClicksAndSpaceTickEnterCloses) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* combo = new TQzCheckCombo;
    layout->addWidget(combo);
    layout->addStretch();
    combo->setItems({"1|总部", "8|深圳营业部", "9|上海营业部"});
    combo->setDropDownWidth(200);
    window.resize(240, 160);
    showActive(window);
    QAbstractItemView* list = combo->view();
    QWidget* items = list->viewport();
    const auto at = [&](int row) {
        return list->visualRect(list->model()->index(row, 0)).center();
    };

    // The click that opens the list: its release comes over the first item.
    QTest::mousePress(combo, Qt::LeftButton, {}, combo->rect().center());
    ASSERT_TRUE(list->isVisible());
    QTest::mouseRelease(items, Qt::LeftButton, {}, at(0));
    EXPECT_EQ(combo->text(), "");
    EXPECT_TRUE(list->isVisible());

    // A click on an item ticks it, and the list stays open.
    QTest::mouseClick(items, Qt::LeftButton, {}, at(1));
    EXPECT_EQ(combo->text(), "8");
    EXPECT_TRUE(list->isVisible());

    // The keyboard's row is highlighted where it goes; Space ticks it.
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentIndex().row(), 2);
    EXPECT_TRUE(list->selectionModel()->isSelected(list->currentIndex()));
    QCoreApplication::processEvents();
    const QImage open = list->window()->grab().toImage();
    open.save(QStringLiteral(SCREEN_DIR "/check-combo-open.png"));
    const QColor highlight = list->palette().color(QPalette::Highlight);
    const auto highlighted = [&](int row) {
        const QRect r = list->visualRect(list->model()->index(row, 0));
        // Right of the caption, inside the list's window.
        const QPoint p(open.width() - 10, list->viewport()->mapTo(list->window(), r.center()).y());
        return open.pixelColor(p) == highlight;
    };
    EXPECT_TRUE(highlighted(2));
    EXPECT_FALSE(highlighted(1));
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(combo->text(), "8,9");
    EXPECT_TRUE(list->isVisible());

    // Enter closes the list with what is ticked.
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(combo->text(), "8,9");
    window.grab().save(QStringLiteral(SCREEN_DIR "/check-combo-closed.png"));
}

TEST(TQzBitBtn, ModalResultClosesItsDialogAndEscPressesTheCancelButton) {
    QDialog dialog;
    auto* ok = new TQzBitBtn(&dialog);
    auto* cancel = new TQzBitBtn(&dialog);
    ok->setModalResult(TQzBitBtn::mrOk);
    cancel->setModalResult(TQzBitBtn::mrCancel);
    cancel->setCancel(true);
    int cancelled = 0;
    cancel->OnClick = [&](QObject*) { ++cancelled; };
    QTimer::singleShot(0, ok, [ok] { ok->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(cancelled, 1);
}

TEST(TQzBitBtn, EscPressesOnlyTheCancelButtonOfTheTabInFront) {
    // Two forms in tabs of one host window, as the counter lays them out.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* tabs = new QTabWidget(&window);
    layout->addWidget(tabs);
    int front = 0;
    int behind = 0;
    for (int* clicks : {&front, &behind}) {
        auto* page = new QWidget;
        auto* cancel = new TQzBitBtn(page);
        cancel->setCancel(true);
        cancel->OnClick = [clicks](QObject*) { ++*clicks; };
        tabs->addTab(page, QString::number(tabs->count()));
    }
    // The tab behind was shown last, so its button hears the window first.
    showActive(window);
    tabs->setCurrentIndex(1);
    tabs->setCurrentIndex(0);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(front, 1);
    EXPECT_EQ(behind, 0);
}

class ListViewTest : public HostFixture {};

TEST_F(ListViewTest, PagesAppendTranslateAndAskForMore) {
    TQZListViewEx list;
    list.setColumns({"branch_no", "client_id", "fund_account", "discount_rate"},
                    {110, 80, 100, 60});
    list.setDictionary(dictionary.get());
    list.setTotalCaption(QStringLiteral("汇总"));
    list.resize(420, 200);
    list.SetData(list.rowCount(), 0, 100, 0, 100, vipPage(0, 30), "");
    list.SetData(list.rowCount(), 0, 100, 0, 100, vipPage(30, 5), "");
    EXPECT_EQ(list.rowCount(), 35);
    EXPECT_EQ(list.columnCount(), 4);
    EXPECT_EQ(list.GetMasterData(34, "fund_account"), Variant(std::int64_t{80000034}));
    EXPECT_EQ(list.GetMasterData(2, "remark"), Variant("备注2")); // any field of the record
    EXPECT_TRUE(list.GetMasterData(99, "fund_account").isEmpty());
    EXPECT_EQ(list.totalText(), QStringLiteral("汇总：35 条"));

    const auto cell = [&](int row, int column) {
        return list.model()->index(row, column).data().toString();
    };
    EXPECT_EQ(cell(1, 0), "8");
    for (int c = 0; c < list.columnCount(); ++c)
        list.SetTranslateFields(c, true);
    EXPECT_EQ(cell(1, 0), "深圳营业部"); // a caption where the dictionary has one
    EXPECT_EQ(cell(0, 0), "9");          // and the value where it has none
    EXPECT_EQ(cell(0, 3), "0.85");

    int pages = 0;
    list.OnGetNewPage = [&](QObject*, int, int) {
        ++pages;
        list.SetData(list.rowCount(), 0, 100, 0, 100, vipPage(list.rowCount(), 3), "");
    };
    showActive(list);
    list.setFocus();
    list.setItemIndex(34);
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(list.rowCount(), 38);
    EXPECT_EQ(list.ItemIndex(), 35);
    list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    EXPECT_GE(pages, 2); // scrolling to the end asks too
}

TEST_F(ListViewTest, TheSelectedRowShowsWhetherTheListHasTheFocus) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* list = new TQZListViewEx;
    auto* button = new TQzBitBtn;
    button->setText(QStringLiteral("条  件"));
    layout->addWidget(list);
    layout->addWidget(button);
    list->setColumns({"branch_no", "client_id", "fund_account", "discount_rate"},
                     {110, 80, 100, 60});
    list->SetData(0, 0, 100, 0, 100, vipPage(0, 8), "");
    window.resize(420, 260);
    showActive(window);
    list->setItemIndex(1);
    const auto rowColour = [&] {
        QCoreApplication::processEvents();
        const QImage image = window.grab().toImage();
        const QRect r = list->visualRect(list->model()->index(1, 2));
        return image.pixelColor(list->viewport()->mapTo(&window, r.topLeft() + QPoint(3, 3)));
    };
    const QColor highlight = QApplication::palette(list).color(QPalette::Highlight);

    list->setFocus();
    EXPECT_EQ(rowColour(), highlight);
    window.grab().save(QStringLiteral(SCREEN_DIR "/list-focused.png"));
    button->setFocus();
    const QColor away = rowColour();
    EXPECT_NE(away, highlight);
    EXPECT_NE(away, QApplication::palette(list).color(QPalette::Base));
    window.grab().save(QStringLiteral(SCREEN_DIR "/list-unfocused.png"));
    QTest::keyClick(button, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_TRUE(list->hasFocus());
    EXPECT_EQ(rowColour(), highlight);
}

TEST(Screens, EveryControlAndAnEmptyFrameworkFormRenderToPng) {
    const QString dir = QDir(QStringLiteral(SCREEN_DIR)).absolutePath();
    QDir().mkpath(dir);
    QWidget panel;
    auto* layout = new QVBoxLayout(&panel);
    auto* label = new TQZSwitchLabel;
    auto* id = new TQZIDEdit;
    label->setItems(id->Captions());
    label->setEdit(id);
    id->setInputWay(TQZIDEdit::iwStockAccount);
    id->setText("A000000123");
    auto* rate = new TQzEdit;
    rate->setScale(2);
    rate->setStyle(TQzEdit::esNumeric);
    rate->setText("1.00");
    auto* password = new TPasswordEdit;
    password->setText("secret");
    auto* combo = new TQzComboBox;
    combo->AddItem("0|全部");
    auto* check = new TQzCheckCombo;
    check->setItems({"8|深圳营业部", "9|上海营业部"});
    check->setText("8,9");
    auto* button = new TQzBitBtn;
    button->setText(QStringLiteral("确定"));
    for (QWidget* w :
         std::initializer_list<QWidget*>{label, id, rate, password, combo, check, button})
        layout->addWidget(w);
    panel.resize(320, 260);
    panel.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(panel.grab().save(dir + "/controls.png"));
}

namespace {
std::string fileBytes(const char* path) {
    QFile file(QString::fromUtf8(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    return file.readAll().toStdString();
}
} // namespace

TEST(AviFile, ReadsTheShippedAnimationAndRle8Frames) {
    AviFile avi;
    ASSERT_TRUE(avi.parse(fileBytes(WAIT_AVI))) << avi.error();
    EXPECT_EQ(avi.width(), 48);
    EXPECT_EQ(avi.height(), 48);
    EXPECT_EQ(avi.frames().size(), 12u);
    EXPECT_EQ(avi.frameMicroseconds(), 83333u);
    // The corner is the background; the ring is drawn in the palette's blues.
    EXPECT_EQ(avi.frames()[0][0], 0xFFF0F0F0u);

    AviFile rle;
    ASSERT_TRUE(rle.parse(fileBytes(RLE8_AVI))) << rle.error();
    ASSERT_EQ(rle.frames().size(), 2u);
    // Bottom-up: the first RLE line is the last row: a run of 3 of colour 1, then 2 3 4.
    const auto& f = rle.frames()[0];
    const std::uint32_t c1 = f[3 * 8 + 0];
    EXPECT_EQ(f[3 * 8 + 1], c1);
    EXPECT_EQ(f[3 * 8 + 2], c1);
    EXPECT_NE(f[3 * 8 + 3], c1);
}

TEST(AviFile, RefusesWhatIsDamagedAndTheAnimationStaysEmpty) {
    const std::string good = fileBytes(WAIT_AVI);
    for (std::size_t cut :
         {std::size_t{0}, std::size_t{11}, std::size_t{100}, good.size() / 2, good.size() - 1}) {
        AviFile avi;
        EXPECT_FALSE(avi.parse(good.substr(0, cut))) << cut;
        EXPECT_TRUE(avi.frames().empty());
    }
    TAnimate animate;
    EXPECT_FALSE(animate.setFileName(QStringLiteral("/nonexistent/Wait.avi")));
    animate.setActive(true);
    EXPECT_FALSE(animate.isActive());
    EXPECT_TRUE(animate.setFileName(QStringLiteral(WAIT_AVI)));
    EXPECT_EQ(animate.frameCount(), 12);
}

TEST(EventBarrierTest, WhoseWordsAMessageIsIsSaidWhereItIsRaised) {
    // A technical line stays technical with a Chinese path in it: words for the operator,
    // the line behind the details.
    const EventBarrier::ErrorReport technical = EventBarrier::reportOf(std::make_exception_ptr(
        std::runtime_error("cannot open /home/柜员/凭证.txt: No such file or directory")));
    EXPECT_EQ(technical.text, "程序内部错误，本次操作未完成。");
    EXPECT_EQ(technical.detail, "cannot open /home/柜员/凭证.txt: No such file or directory");
    // The operator's words are raised as such, in any characters, with their detail.
    const EventBarrier::ErrorReport words = EventBarrier::reportOf(
        std::make_exception_ptr(EDetailedError("没有可用的打印机", "lpstat: no destinations")));
    EXPECT_EQ(words.text, "没有可用的打印机");
    EXPECT_EQ(words.detail, "lpstat: no destinations");
    const EventBarrier::ErrorReport ascii =
        EventBarrier::reportOf(std::make_exception_ptr(EDetailedError("PRN")));
    EXPECT_EQ(ascii.text, "PRN");
    EXPECT_EQ(ascii.detail, "");
}
