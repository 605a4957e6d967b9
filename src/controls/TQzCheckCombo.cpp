#include "TQzCheckCombo.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <utility>

TQzCheckCombo::TQzCheckCombo(QWidget* parent)
    : QComboBox(parent), model_(new QStandardItemModel(this)) {
    setModel(model_);
    view()->viewport()->installEventFilter(this);
    view()->installEventFilter(this);
}

void TQzCheckCombo::setItems(const QStringList& lines) {
    const QString selection = text();
    lines_ = lines;
    model_->clear();
    for (const QString& line : lines) {
        auto* item = new QStandardItem(line);
        item->setData(line.section(QLatin1Char('|'), 0, 0), Qt::UserRole);
        // Selectable, so that the keyboard's row shows highlighted.
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setData(Qt::Unchecked, Qt::CheckStateRole);
        model_->appendRow(item);
    }
    setText(selection);
}

QString TQzCheckCombo::text() const {
    QStringList codes;
    for (int row = 0; row < model_->rowCount(); ++row) {
        const QStandardItem* item = model_->item(row);
        if (item->checkState() == Qt::Checked)
            codes << item->data(Qt::UserRole).toString();
    }
    return codes.join(QLatin1Char(','));
}

void TQzCheckCombo::setText(const QString& selection) {
    QStringList codes = selection.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString& c : codes)
        c = c.trimmed();
    for (int row = 0; row < model_->rowCount(); ++row) {
        QStandardItem* item = model_->item(row);
        item->setCheckState(codes.contains(item->data(Qt::UserRole).toString()) ? Qt::Checked
                                                                                : Qt::Unchecked);
    }
    update();
}

void TQzCheckCombo::setLeadLabel(QLabel* label) {
    leadLabel_ = label;
    if (label)
        label->setBuddy(this);
}

void TQzCheckCombo::setDropDownWidth(int width) {
    view()->setMinimumWidth(width);
}

void TQzCheckCombo::toggle(int row) {
    QStandardItem* item = model_->item(row);
    if (!item)
        return;
    item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    update();
}

void TQzCheckCombo::showPopup() {
    pressedRow_ = -1;
    QComboBox::showPopup();
    // The keyboard's row is where the list opens: the first item when there is none yet.
    if (!view()->currentIndex().isValid() && model_->rowCount() > 0)
        view()->setCurrentIndex(model_->index(0, 0));
}

bool TQzCheckCombo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view()->viewport()) {
        const auto rowAt = [&] {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            return view()->indexAt(mouse->position().toPoint()).row();
        };
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            pressedRow_ = rowAt();
            break;
        case QEvent::MouseButtonRelease: {
            // Only a click made on the list ticks: the release of the click that opened
            // it does not. Either way the list stays open.
            const int row = rowAt();
            if (row >= 0 && row == std::exchange(pressedRow_, -1))
                toggle(row);
            return true;
        }
        default:
            break;
        }
    }
    if (watched == view() && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Space:
            toggle(view()->currentIndex().row());
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            hidePopup();
            return true;
        default:
            break;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void TQzCheckCombo::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QString selection = text();
    option.currentText = selection.isEmpty() ? QStringLiteral("（全部）") : selection;
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
