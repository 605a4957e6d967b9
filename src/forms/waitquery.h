#pragma once
// The wait popup of long queries: a borderless window with an animation and the text in
// two labels, the back one a shadow of the front one.

#include "WaitCursor.h"

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class TfrmWaitQuery;
}

class TfrmWaitQuery : public QWidget {
    Q_OBJECT
public:
    TfrmWaitQuery();
    ~TfrmWaitQuery() override;

    void setText(const QString& text);
    // Style 2: black shadow, maroon text on teal; any other: white shadow, blue text on
    // the button face.
    void setStyle(int style) { style_ = style; }
    Ui::TfrmWaitQuery& ui() { return *ui_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    std::unique_ptr<Ui::TfrmWaitQuery> ui_;
    int style_ = 1;
};

// The one module-wide popup.
TfrmWaitQuery* WaitQuery();
void ShowWaitQuery(const QString& text, int style);
void CloseWaitQuery();

// The hourglass and the wait popup for the life of the guard, both restored on every
// path, errors included.
class WaitQueryGuard {
public:
    explicit WaitQueryGuard(const QString& text);
    ~WaitQueryGuard();
    WaitQueryGuard(const WaitQueryGuard&) = delete;
    WaitQueryGuard& operator=(const WaitQueryGuard&) = delete;

private:
    const WaitCursor cursor_; // before the popup, restored after it
};
