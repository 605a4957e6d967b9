#include "ConsoleDialogs.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

bool interactive() {
    return isatty(STDIN_FILENO) != 0;
}

std::string readLine() {
    std::string line;
    std::getline(std::cin, line);
    return line;
}

} // namespace

MessageDialogs::Answer ConsoleDialogs::showDetailed(Kind kind, const QString& text,
                                                    const QString& detail, Buttons buttons) {
    return show(kind, detail.isEmpty() ? text : text + QStringLiteral("\n（") + detail + "）",
                buttons);
}

MessageDialogs::Answer ConsoleDialogs::show(Kind, const QString& text, Buttons buttons) {
    std::cerr << text.toStdString() << '\n';
    lastWords_ = text;
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    const bool yesNo = buttons == Buttons::YesNo;
    if (!interactive()) {
        lastWords_ += QStringLiteral(" [answered %1: no terminal]").arg(yesNo ? "No" : "Cancel");
        return yesNo ? Answer::No : Answer::Cancel;
    }
    std::cerr << (yesNo ? "[y/n] " : "[ok/cancel] ") << std::flush;
    const std::string reply = readLine();
    const bool agreed = !reply.empty() &&
                        (reply[0] == 'y' || reply[0] == 'Y' || reply[0] == 'o' || reply[0] == 'O');
    if (!agreed)
        lastWords_ +=
            yesNo ? QStringLiteral(" [answered No]") : QStringLiteral(" [answered Cancel]");
    if (yesNo)
        return agreed ? Answer::Yes : Answer::No;
    return agreed ? Answer::Ok : Answer::Cancel;
}

bool ConsoleDialogs::inputQuery(const QString&, const QString& prompt, QString& value) {
    if (fileName_) {
        value = *fileName_;
        return true;
    }
    if (!interactive()) {
        lastWords_ = prompt + QStringLiteral(" no answer: no --out and no terminal");
        return false;
    }
    std::cerr << prompt.toStdString() << " [" << value.toStdString() << "] " << std::flush;
    const std::string reply = readLine();
    if (!std::cin) {
        lastWords_ = prompt + QStringLiteral(" no answer");
        return false;
    }
    if (!reply.empty())
        value = QString::fromStdString(reply);
    return true;
}

bool ConsoleDialogs::saveFile(const QString& caption, const QString&, QString& fileName) {
    return inputQuery(caption, QStringLiteral("保存到文件："), fileName);
}
