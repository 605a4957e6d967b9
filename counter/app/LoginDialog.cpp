#include "LoginDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

namespace counter {

LoginDialog::LoginDialog(std::function<QString(const QString&, const QString&)> login,
                         QWidget* parent)
    : QDialog(parent), login_(std::move(login)), operator_(new QLineEdit), password_(new QLineEdit),
      message_(new QLabel) {
    setWindowTitle(QStringLiteral("柜台登录"));
    operator_->setObjectName(QStringLiteral("operatorNo"));
    password_->setObjectName(QStringLiteral("password"));
    message_->setObjectName(QStringLiteral("message"));
    password_->setEchoMode(QLineEdit::Password);
    operator_->setMaxLength(16);
    password_->setMaxLength(32);
    message_->setStyleSheet(QStringLiteral("color: #c00000"));
    message_->setWordWrap(true);

    auto* title = new QLabel(QStringLiteral("C_Marlo 柜台"));
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    title->setFont(big);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("柜员号："), operator_);
    form->addRow(QStringLiteral("密  码："), password_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("登录"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("退出"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (tryLogin())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addLayout(form);
    layout->addWidget(message_);
    layout->addWidget(buttons);
    resize(320, 200);
}

void LoginDialog::prefill(const QString& operatorNo, const QString& password) {
    operator_->setText(operatorNo);
    password_->setText(password);
}

bool LoginDialog::tryLogin() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QString error;
    try {
        error = login_(operator_->text().trimmed(), password_->text());
    } catch (const std::exception& e) {
        error = QString::fromStdString(e.what()); // the back office could not be asked
    }
    QGuiApplication::restoreOverrideCursor();
    message_->setText(error);
    if (!error.isEmpty()) {
        // The refused password, ready to be typed over.
        password_->setFocus();
        password_->selectAll();
    }
    return error.isEmpty();
}

QString LoginDialog::operatorNo() const {
    return operator_->text().trimmed();
}

} // namespace counter
