#pragma once
// The message-dialog service of the command line: messages go to the standard error, and
// questions are asked on the terminal. Without a terminal a question is answered No or
// Cancel, so that an unattended print never waits on an operator.

#include "MessageDialogs.h"

#include <optional>

class ConsoleDialogs final : public MessageDialogs {
public:
    // `fileName` answers the driver's file-name prompt when given.
    explicit ConsoleDialogs(std::optional<QString> fileName) : fileName_(std::move(fileName)) {}

    Answer show(Kind kind, const QString& text, Buttons buttons) override;
    // On a terminal the details are printed under the words.
    Answer showDetailed(Kind kind, const QString& text, const QString& detail,
                        Buttons buttons) override;
    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override;
    bool saveFile(const QString& caption, const QString& filter, QString& fileName) override;

    // The last message shown or question declined, the reason of a print that stopped.
    const QString& LastWords() const { return lastWords_; }

private:
    std::optional<QString> fileName_;
    QString lastWords_;
};
