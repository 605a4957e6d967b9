#pragma once
// The counter's login: operator number and password, checked by the back office. Enter
// in the operator number goes on to the password, Enter there logs in; with the operator
// number prefilled the dialog starts at the password.

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;

namespace counter {

class LoginDialog : public QDialog {
    Q_OBJECT
public:
    // `login` answers an empty text on success, else the reason to show.
    LoginDialog(std::function<QString(const QString&, const QString&)> login,
                QWidget* parent = nullptr);

    void prefill(const QString& operatorNo, const QString& password);
    // Logs in with what is typed; true when the back office accepted it.
    bool tryLogin();
    QString operatorNo() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<QString(const QString&, const QString&)> login_;
    QLineEdit* operator_;
    QLineEdit* password_;
    QLabel* message_;
};

} // namespace counter
