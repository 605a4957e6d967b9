#pragma once
// The keys of the module's modal dialogs, as on the business forms: Enter on a button
// presses it, anywhere else it moves on to the next control (an edit validates its entry
// first and keeps the operator when it rejects it); Esc cancels the dialog.

#include <QObject>

class QDialog;

class TDialogKeys : public QObject {
    Q_OBJECT
public:
    // Lives as long as the dialog it serves.
    explicit TDialogKeys(QDialog& dialog);
    ~TDialogKeys() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void moveOn(QWidget* from);
    void cancel();

    QDialog& dialog_;
};
