#pragma once
// The combo box of the forms.

#include <QComboBox>

class TQzComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TQzComboBox(QWidget* parent = nullptr) : QComboBox(parent) {}
    void Clear() { clear(); }
    void AddItem(const QString& text) { addItem(text); }
    int ItemIndex() const { return currentIndex(); }
    void setItemIndex(int index) { setCurrentIndex(index); }
};
