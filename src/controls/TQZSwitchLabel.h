#pragma once
// The lead label of the identifier edit: it shows the current kind's caption, and a click
// switches to the next kind that has a caption, in step with its edit.

#include <QLabel>
#include <QPointer>
#include <QStringList>

class TQZIDEdit;

class TQZSwitchLabel : public QLabel {
    Q_OBJECT
public:
    explicit TQZSwitchLabel(QWidget* parent = nullptr);

    void setItems(const QStringList& items);
    QStringList Items() const { return items_; }
    int ItemIndex() const { return index_; }
    void setItemIndex(int index);
    // The edit whose kind this label shows and switches.
    void setEdit(TQZIDEdit* edit);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QStringList items_;
    int index_ = 0;
    QPointer<TQZIDEdit> edit_;
};
