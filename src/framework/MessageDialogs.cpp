#include "MessageDialogs.h"

#include "ApplicationWindow.h"
#include "SaveFileDialog.h"

#include <QInputDialog>
#include <QMessageBox>

namespace {

class StandardDialogs final : public MessageDialogs {
public:
    Answer show(Kind kind, const QString& text, Buttons buttons) override {
        return showDetailed(kind, text, {}, buttons);
    }

    Answer showDetailed(Kind kind, const QString& text, const QString& detail,
                        Buttons buttons) override {
        QMessageBox box(ApplicationWindow());
        box.setText(text);
        box.setDetailedText(detail);
        box.setWindowTitle(kind == Kind::Error         ? QStringLiteral("错误")
                           : kind == Kind::Warning     ? QStringLiteral("警告")
                           : kind == Kind::Information ? QStringLiteral("信息")
                                                       : QStringLiteral("确认"));
        box.setIcon(kind == Kind::Error         ? QMessageBox::Critical
                    : kind == Kind::Warning     ? QMessageBox::Warning
                    : kind == Kind::Information ? QMessageBox::Information
                                                : QMessageBox::Question);
        switch (buttons) {
        case Buttons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case Buttons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case Buttons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        }
        switch (box.exec()) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Ok:
            return Answer::Ok;
        default:
            return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
        }
    }

    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override {
        bool ok = false;
        const QString entered = QInputDialog::getText(ApplicationWindow(), caption, prompt,
                                                      QLineEdit::Normal, value, &ok);
        if (ok)
            value = entered;
        return ok;
    }

    bool saveFile(const QString& caption, const QString& filter, QString& fileName) override {
        return AskSaveFileName(ApplicationWindow(), caption, filter, fileName);
    }
};

std::unique_ptr<MessageDialogs>& installed() {
    static std::unique_ptr<MessageDialogs> dialogs;
    return dialogs;
}

} // namespace

MessageDialogs& MessageDialogs::current() {
    if (!installed())
        installed() = std::make_unique<StandardDialogs>();
    return *installed();
}

void MessageDialogs::install(std::unique_ptr<MessageDialogs> dialogs) {
    installed() = std::move(dialogs);
}

void ShowWarning(const QString& text) {
    MessageDialogs::current().show(MessageDialogs::Kind::Warning, text,
                                   MessageDialogs::Buttons::Ok);
}

void ShowInformation(const QString& text) {
    MessageDialogs::current().show(MessageDialogs::Kind::Information, text,
                                   MessageDialogs::Buttons::Ok);
}

void ShowError(const QString& text, const QString& detail) {
    MessageDialogs::current().showDetailed(MessageDialogs::Kind::Error, text, detail,
                                           MessageDialogs::Buttons::Ok);
}

bool Confirm(const QString& text, MessageDialogs::Buttons buttons) {
    const auto answer =
        MessageDialogs::current().show(MessageDialogs::Kind::Confirmation, text, buttons);
    return answer == MessageDialogs::Answer::Yes || answer == MessageDialogs::Answer::Ok;
}
