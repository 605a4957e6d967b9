#pragma once
// The counter's login: operator number and password, checked by the back office.

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

private:
    std::function<QString(const QString&, const QString&)> login_;
    QLineEdit* operator_;
    QLineEdit* password_;
    QLabel* message_;
};

} // namespace counter
