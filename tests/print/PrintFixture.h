#pragma once
// What the print tests share: a working directory of their own with its uservouc.ini,
// a dialog answerer that can also cancel the one-line input, and the module-wide print
// objects freed after each test.

#include "OutputFile.h"
#include "PrintObjects.h"
#include "QZForm.h"
#include "ScriptedDialogs.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

class PrintDialogs : public ScriptedDialogs {
public:
    Answer show(Kind kind, const QString& text, Buttons buttons) override {
        const Answer answer = ScriptedDialogs::show(kind, text, buttons);
        if (onShow)
            onShow();
        return answer;
    }
    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override {
        prefilled = value;
        if (cancelInput) {
            shown.push_back({Kind::Confirmation, prompt, Buttons::OkCancel});
            return false;
        }
        return ScriptedDialogs::inputQuery(caption, prompt, value);
    }
    bool cancelInput = false;
    QString prefilled;
    // Runs after each message, as the operator's doing while it is up.
    std::function<void()> onShow;
};

class PrintFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        auto owned = std::make_unique<PrintDialogs>();
        dialogs = owned.get();
        MessageDialogs::install(std::move(owned));
        // The driver's file-name prompt is answered as the one-line input is.
        SetOutputFilePrompt([](const QString& caption, const QString& prompt, QString& name) {
            return MessageDialogs::current().inputQuery(caption, prompt, name);
        });
        CommonInfo().currentDir = dir.path().toStdString() + "/";
    }
    void TearDown() override {
        FreePrintObjects();
        SetOutputFilePrompt(nullptr);
        MessageDialogs::install(nullptr);
        CommonInfo().currentDir.clear();
    }
    std::string path(const std::string& name) const {
        return dir.path().toStdString() + "/" + name;
    }
    void writeFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    void writeIni(const std::string& bytes) const { writeFile("uservouc.ini", bytes); }
    std::string readFile(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    QTemporaryDir dir;
    PrintDialogs* dialogs = nullptr;
};

// The bytes of a list of codes, for comparing with control codes.
inline std::string Bytes(std::initializer_list<int> codes) {
    std::string out;
    for (int c : codes)
        out += static_cast<char>(c);
    return out;
}
