#include "LoginDialog.h"

#include "HostPtr.h"
#include "WaitCursor.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QKeyEvent>
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
    // Enter in the operator number goes on to the password; only there it logs in.
    operator_->installEventFilter(this);
    operator_->setMaxLength(16);
    password_->setMaxLength(32);
    message_->setStyleSheet(QStringLiteral("color: #c00000"));
    message_->setWordWrap(true);

    auto* title = new QLabel(QStringLiteral("证券柜台"));
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
    // A known operator starts at the password.
    QLineEdit* first = operatorNo.trimmed().isEmpty() ? operator_ : password_;
    first->setFocus();
    first->selectAll();
}

bool LoginDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == operator_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            password_->setFocus(Qt::TabFocusReason);
            password_->selectAll();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool LoginDialog::tryLogin() {
    QString error;
    QString technical;
    try {
        const WaitCursor wait;
        error = login_(operator_->text().trimmed(), password_->text());
    } catch (const EHostError& e) {
        // The back office could not be asked: words here, the technical line on hovering.
        error = QString::fromStdString(e.operatorText());
        technical = QString::fromStdString(e.technicalText());
    } catch (const std::exception& e) {
        error = QStringLiteral("登录未能完成，请稍后重试。");
        technical = QString::fromStdString(e.what());
    }
    message_->setText(error);
    message_->setToolTip(technical);
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
