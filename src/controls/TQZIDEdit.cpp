#include "TQZIDEdit.h"

#include "EventBarrier.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QListWidget>

namespace {
// The one-character code of each kind, by InputWay.
constexpr char ways[6] = {'1', '5', '3', '4', '2', '6'};

struct Exchange {
    const char* code;
    const char* caption;
};
constexpr Exchange exchanges[] = {{"1", "沪A"}, {"2", "深A"}, {"D", "沪B"}, {"H", "深B"},
                                  {"F1", "F1"}, {"F2", "F2"}, {"F3", "F3"}, {"F4", "F4"}};
} // namespace

TQZIDEdit::TQZIDEdit(QWidget* parent)
    : TCustomQzEdit(parent), exchange_(new QComboBox(this)), list_(new QListWidget(this)) {
    for (const Exchange& e : exchanges)
        exchange_->addItem(QString::fromUtf8(e.caption), QString::fromLatin1(e.code));
    exchange_->setFocusPolicy(Qt::StrongFocus);
    connect(exchange_, &QComboBox::activated, this, &TQZIDEdit::exchangeChosen);
    exchange_->installEventFilter(this);
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) { typed_ = text; });
    exchange_->setToolTip(QStringLiteral("交易所（PageUp/PageDown 切换）"));
    list_->setWindowFlags(Qt::Popup);
    list_->setFocusPolicy(Qt::StrongFocus);
    list_->installEventFilter(this);
    connect(list_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { pickSubAccount(list_->row(item)); });
    setCaptions({QStringLiteral("资产账号"), QStringLiteral("股东账号"), QStringLiteral("资金卡号"),
                 QStringLiteral("银行卡号"), QString(), QStringLiteral("客户编号")});
    setInputWay(iwCustomerNo);
}

void TQZIDEdit::setCaptions(const QStringList& captions) {
    captions_ = captions;
}

void TQZIDEdit::setInputWay(int way) {
    if (way < 0 || way > iwCustomerNo)
        return;
    inputWay_ = way;
    placeExchangeBox();
    emit inputWayChanged(way);
}

char TQZIDEdit::GetWay() const {
    return ways[inputWay_];
}

void TQZIDEdit::SetWay(char way) {
    for (int i = 0; i < 6; ++i) {
        if (ways[i] == way)
            setInputWay(i);
    }
}

QString TQZIDEdit::GetExchange() const {
    return inputWay_ == iwStockAccount ? exchange_->currentData().toString() : QString();
}

void TQZIDEdit::setExchange(const QString& code) {
    const int index = exchange_->findData(code);
    if (index >= 0)
        exchange_->setCurrentIndex(index);
}

void TQZIDEdit::placeExchangeBox() {
    const bool shown = inputWay_ == iwStockAccount;
    exchange_->setVisible(shown);
    const int width = shown ? 58 : 0;
    exchange_->setGeometry(1, 1, width, height() - 2);
    setTextMargins(width, 0, 0, 0);
}

void TQZIDEdit::resizeEvent(QResizeEvent* event) {
    TCustomQzEdit::resizeEvent(event);
    placeExchangeBox();
}

void TQZIDEdit::nextInputWay() {
    for (int step = 1; step <= captions_.size(); ++step) {
        const int next = static_cast<int>((inputWay_ + step) % captions_.size());
        if (next <= iwCustomerNo && !captions_.at(next).isEmpty()) {
            setInputWay(next);
            break;
        }
    }
    // What is typed is now an entry of the new kind: checked again, ready to be typed over.
    if (!text().isEmpty())
        markPending();
    selectAll();
}

void TQZIDEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        nextInputWay();
        return;
    }
    if (inputWay_ == iwStockAccount &&
        (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown)) {
        const int step = event->key() == Qt::Key_PageDown ? 1 : -1;
        const int count = exchange_->count();
        exchange_->setCurrentIndex((exchange_->currentIndex() + step + count) % count);
        exchangeChosen();
        return;
    }
    TCustomQzEdit::keyPressEvent(event);
}

void TQZIDEdit::exchangeChosen() {
    if (inputWay_ != iwStockAccount)
        return;
    // The entry was padded for the exchange it was checked under: the digits as typed are
    // what is checked for the new one.
    if (!typed_.isEmpty())
        setText(typed_);
    if (!text().isEmpty())
        markPending();
    emit exchangeChanged();
}

void TQZIDEdit::SetSubAccounts(const QStringList& accounts) {
    subAccounts_ = accounts;
    offered_ = true;
    list_->clear();
    list_->addItems(accounts);
    list_->setCurrentRow(0);
}

bool TQZIDEdit::entryAccepted() {
    if (inputWay_ != iwCustomerNo)
        return subAccountValidate();
    // A client number: the fund accounts the validation offered are to be picked from.
    if (!offered_ || subAccounts_.isEmpty())
        return true;
    offered_ = false;
    const int rows = std::min<int>(static_cast<int>(subAccounts_.size()), 8);
    list_->setGeometry(
        QRect(mapToGlobal(QPoint(0, height())), QSize(std::max(width(), 160), rows * 20 + 4)));
    list_->show();
    list_->setFocus(Qt::PopupFocusReason);
    return true;
}

void TQZIDEdit::pickSubAccount(int row) {
    if (row < 0 || row >= subAccounts_.size())
        return;
    picked_ = subAccounts_.at(row);
    list_->hide();
    setFocus(Qt::PopupFocusReason);
    if (!subAccountValidate()) {
        // Refused: the operator stays in the edit, its text ready to be typed over.
        setFocus(Qt::PopupFocusReason);
        selectAll();
    }
}

bool TQZIDEdit::subAccountValidate() {
    const bool valid = EventBarrier::validate([this](bool& v) {
        if (OnSubAccountValidate)
            OnSubAccountValidate(this, v);
    });
    // A refusal that cleared the edit leaves nothing to validate again.
    if (!valid && !text().isEmpty())
        markPending();
    return valid;
}

bool TQZIDEdit::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the exchange box has moved the focus on to the edit; passed up from the box,
    // it would check the entry at once.
    if (watched == exchange_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            pickSubAccount(list_->currentRow());
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            list_->hide();
            setFocus(Qt::PopupFocusReason);
            markPending();
            return true;
        }
    }
    return TCustomQzEdit::eventFilter(watched, event);
}

void TQZIDEdit::Clear() {
    clear();
    picked_.clear();
    typed_.clear();
    list_->hide();
    discardEntry();
}
