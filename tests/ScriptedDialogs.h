#pragma once
// The message-dialog service for tests: records every text exactly and gives the answers
// scripted, OK when none is.

#include "MessageDialogs.h"

#include <deque>
#include <map>
#include <memory>
#include <vector>

class ScriptedDialogs : public MessageDialogs {
public:
    struct Shown {
        Kind kind;
        QString text;
        Buttons buttons;
    };

    Answer show(Kind kind, const QString& text, Buttons buttons) override {
        shown.push_back({kind, text, buttons});
        if (answers.empty())
            return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    Answer showDetailed(Kind kind, const QString& text, const QString& detail,
                        Buttons buttons) override {
        const Answer a = show(kind, text, buttons);
        if (!detail.isEmpty())
            details[shown.size() - 1] = detail;
        return a;
    }
    bool inputQuery(const QString&, const QString& prompt, QString& value) override {
        shown.push_back({Kind::Confirmation, prompt, Buttons::OkCancel});
        value = input;
        return true;
    }
    bool saveFile(const QString&, const QString&, QString& fileName) override {
        fileName = input;
        return !input.isEmpty();
    }

    // Installs a fresh answerer for the test and gives it; the toolkit's dialogs come back
    // with the guard.
    struct Installed {
        ScriptedDialogs* dialogs;
        Installed() {
            auto owned = std::make_unique<ScriptedDialogs>();
            dialogs = owned.get();
            MessageDialogs::install(std::move(owned));
        }
        ~Installed() { MessageDialogs::install(nullptr); }
        ScriptedDialogs* operator->() const { return dialogs; }
    };

    std::vector<Shown> shown;
    // The technical line behind the details, by the index of the message in `shown`.
    std::map<std::size_t, QString> details;
    std::deque<Answer> answers;
    QString input;
};
