#include "TQZSwitchLabel.h"

#include "TQZIDEdit.h"

#include <QMouseEvent>

TQZSwitchLabel::TQZSwitchLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("单击切换输入类别（输入框中按 F2 也可切换）"));
    setStyleSheet(QStringLiteral("color: #0000c0; text-decoration: underline"));
}

void TQZSwitchLabel::setItems(const QStringList& items) {
    items_ = items;
    setItemIndex(index_);
}

void TQZSwitchLabel::setItemIndex(int index) {
    if (index < 0 || index >= items_.size())
        return;
    index_ = index;
    setText(items_.at(index));
    if (edit_ && edit_->InputWay() != index)
        edit_->setInputWay(index);
}

void TQZSwitchLabel::setEdit(TQZIDEdit* edit) {
    edit_ = edit;
    if (!edit)
        return;
    setBuddy(edit);
    connect(edit, &TQZIDEdit::inputWayChanged, this, [this](int way) {
        if (way != index_)
            setItemIndex(way);
    });
    setItemIndex(edit->InputWay());
}

void TQZSwitchLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || items_.isEmpty())
        return QLabel::mousePressEvent(event);
    // The next kind with a caption.
    for (int step = 1; step <= items_.size(); ++step) {
        const int next = static_cast<int>((index_ + step) % items_.size());
        if (!items_.at(next).isEmpty()) {
            setItemIndex(next);
            break;
        }
    }
    if (edit_)
        edit_->setFocus(Qt::MouseFocusReason);
}
