#pragma once
// The masked password edit.

#include "TCustomQzEdit.h"

class TPasswordEdit : public TCustomQzEdit {
    Q_OBJECT
public:
    explicit TPasswordEdit(QWidget* parent = nullptr) : TCustomQzEdit(parent) {
        setEchoMode(QLineEdit::Password);
    }
    QString GetAsPassword() const { return text(); }
};
