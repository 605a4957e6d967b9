#pragma once
// A multi-select combo: its items are lines "code|caption" shown with check boxes; its
// text is the selection, the checked codes separated by commas. Opening the list ticks
// nothing; a click on an item or Space on the keyboard's row ticks it and keeps the list
// open; Enter closes it.

#include <QComboBox>
#include <QPointer>
#include <QStringList>

#include <QLabel>
class QStandardItemModel;

class TQzCheckCombo : public QComboBox {
    Q_OBJECT
public:
    explicit TQzCheckCombo(QWidget* parent = nullptr);

    void setItems(const QStringList& lines);
    QStringList GetItems() const { return lines_; }
    // The selection: checked codes, comma-separated, in item order.
    QString text() const;
    // Checks exactly the codes of the text.
    void setText(const QString& selection);

    void setLeadLabel(QLabel* label);
    void setNullable(bool on) { nullable_ = on; }
    void setForceSeparate(bool on) { forceSeparate_ = on; }
    void setValueWidth(int width) { valueWidth_ = width; }
    void setDropDownWidth(int width);

    // The operator's click on the item at that row.
    void toggle(int row);

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QStandardItemModel* model_;
    QStringList lines_;
    QPointer<QLabel> leadLabel_;
    bool nullable_ = true;
    bool forceSeparate_ = true;
    int valueWidth_ = 0;
    int pressedRow_ = -1; // the item a click on the list began on
};
