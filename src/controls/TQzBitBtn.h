#pragma once
// The button of the forms: a click event, the cancel flag (Esc presses it) and a modal
// result that closes its dialog with that result. A character typed on it is refused with
// the platform's beep, as one typed into a full edit is: it goes nowhere, and says so.

#include <QPushButton>

#include <functional>

class TQzBitBtn : public QPushButton {
    Q_OBJECT
public:
    // Results as the dialog's exec() gives them back.
    enum TModalResult { mrNone = -1, mrCancel = 0, mrOk = 1 };

    explicit TQzBitBtn(QWidget* parent = nullptr);

    std::function<void(QObject* sender)> OnClick;
    void setCancel(bool on) { cancel_ = on; }
    bool isCancel() const { return cancel_; }
    void setModalResult(int result) { modalResult_ = result; }
    int modalResult() const { return modalResult_; }

    // What a click does: the handler, then the modal result.
    void Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool cancel_ = false;
    int modalResult_ = mrNone;
    bool watching_ = false;
};
