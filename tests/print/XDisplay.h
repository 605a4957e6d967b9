#pragma once
// A real X display for the window tests of printing: Xvfb on a free display number that it
// picks itself (-displayfd) with a window manager, both started and stopped by PID.

#include <QString>

#include <sys/types.h>

class XDisplay {
public:
    // Starts the server and the window manager; `error()` says why when it failed.
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool running() const { return error_.isEmpty(); }
    const QString& error() const { return error_; }
    // ":N"
    const QString& name() const { return name_; }

private:
    pid_t server_ = -1;
    pid_t manager_ = -1;
    QString name_;
    QString error_;
};

// Runs xdotool with the arguments on the display given; true when it succeeded.
bool XDoTool(const QStringList& arguments);
