#pragma once
// The message-dialog service of the command line: messages go to the standard error, and
// questions are asked on the terminal. Without a terminal a question is answered No or
// Cancel, so that an unattended print never waits on an operator.
//
// The module's messages are Chinese and the tool's own lines English; each goes out on
// lines of its own, so that no line mixes the two.

#include "MessageDialogs.h"

#include <optional>
#include <string>

class ConsoleDialogs final : public MessageDialogs {
public:
    // `fileName` answers the driver's file-name prompt when given.
    explicit ConsoleDialogs(std::optional<QString> fileName) : fileName_(std::move(fileName)) {}

    Answer show(Kind kind, const QString& text, Buttons buttons) override;
    // The details follow the message on a line of their own.
    Answer showDetailed(Kind kind, const QString& text, const QString& detail,
                        Buttons buttons) override;
    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override;
    bool saveFile(const QString& caption, const QString& filter, QString& fileName) override;

    // Why a print may have stopped, in the tool's words: the last question declined, the
    // file name not given, or the last message shown; empty when nothing was asked or told.
    const std::string& StopReason() const { return stopReason_; }

private:
    std::optional<QString> fileName_;
    std::string stopReason_;
};
