#pragma once
// Every message box, input query and save-file prompt of the module goes through here.
// The toolkit's standard dialogs stand behind it; tests install a scripted answerer.

#include <QString>

#include <memory>

class MessageDialogs {
public:
    enum class Kind { Warning, Information, Confirmation, Error };
    enum class Buttons { Ok, YesNo, OkCancel };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~MessageDialogs() = default;

    // A message with its buttons; the button the operator chose.
    virtual Answer show(Kind kind, const QString& text, Buttons buttons) = 0;
    // The same with a technical line (an operation, a status) that the dialog shows only on
    // request; a service without a details view shows the text alone.
    virtual Answer showDetailed(Kind kind, const QString& text, const QString& detail,
                                Buttons buttons) {
        (void)detail;
        return show(kind, text, buttons);
    }
    // A one-line input: true with `value` changed when confirmed.
    virtual bool inputQuery(const QString& caption, const QString& prompt, QString& value) = 0;
    // A file to save to: true with `fileName` set when chosen.
    virtual bool saveFile(const QString& caption, const QString& filter, QString& fileName) = 0;

    // The service in use; the toolkit's dialogs unless replaced.
    static MessageDialogs& current();
    // Replaces the service (tests); null puts the toolkit's dialogs back.
    static void install(std::unique_ptr<MessageDialogs> dialogs);
};

// The shorthands the forms use.
void ShowWarning(const QString& text);
void ShowInformation(const QString& text);
// An error in words; `detail`, the technical line, only behind the dialog's details.
void ShowError(const QString& text, const QString& detail = {});
bool Confirm(const QString& text, MessageDialogs::Buttons buttons = MessageDialogs::Buttons::YesNo);
