#include "ConsoleDialogs.h"

#include <unistd.h>

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

MessageDialogs::Answer ConsoleDialogs::showDetailed(Kind, const QString& text,
                                                    const QString& detail, Buttons buttons) {
    std::cerr << text.toStdString() << '\n';
    if (!detail.isEmpty())
        std::cerr << "details: " << detail.toStdString() << '\n';
    stopReason_ = "see the message above";
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    const bool yesNo = buttons == Buttons::YesNo;
    const std::string no = yesNo ? "No" : "Cancel";
    if (!interactive()) {
        stopReason_ = "the question above was answered " + no + " (no terminal)";
        return yesNo ? Answer::No : Answer::Cancel;
    }
    std::cerr << (yesNo ? "[y/n] " : "[ok/cancel] ") << std::flush;
    const std::string reply = readLine();
    const bool agreed = !reply.empty() &&
                        (reply[0] == 'y' || reply[0] == 'Y' || reply[0] == 'o' || reply[0] == 'O');
    if (!agreed)
        stopReason_ = "the question above was answered " + no;
    if (yesNo)
        return agreed ? Answer::Yes : Answer::No;
    return agreed ? Answer::Ok : Answer::Cancel;
}

MessageDialogs::Answer ConsoleDialogs::show(Kind kind, const QString& text, Buttons buttons) {
    return showDetailed(kind, text, {}, buttons);
}

bool ConsoleDialogs::inputQuery(const QString&, const QString& prompt, QString& value) {
    if (fileName_) {
        value = *fileName_;
        return true;
    }
    if (!interactive()) {
        stopReason_ = "no file name was given (no --out and no terminal)";
        return false;
    }
    std::cerr << prompt.toStdString() << " [" << value.toStdString() << "] " << std::flush;
    const std::string reply = readLine();
    if (!std::cin) {
        stopReason_ = "no file name was given (the terminal closed)";
        return false;
    }
    if (!reply.empty())
        value = QString::fromStdString(reply);
    return true;
}

bool ConsoleDialogs::saveFile(const QString& caption, const QString&, QString& fileName) {
    return inputQuery(caption, QStringLiteral("保存到文件："), fileName);
}
