#pragma once
// The plain input edit.

#include "TCustomQzEdit.h"

class TQzEdit : public TCustomQzEdit {
    Q_OBJECT
public:
    using TCustomQzEdit::TCustomQzEdit;
};
