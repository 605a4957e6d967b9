#include "XDisplay.h"

#include <QProcess>
#include <QThread>

#include <fcntl.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void stop(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        QThread::msleep(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

pid_t spawn(const std::string& program, const std::vector<std::string>& arguments,
            int keepFd = -1) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (keepFd < 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    execvp(program.c_str(), argv.data());
    _exit(127);
}

} // namespace

XDisplay::XDisplay() {
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = QStringLiteral("no pipe");
        return;
    }
    server_ = spawn(
        "Xvfb",
        {"-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
        fds[1]);
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (server_ < 0 || number.empty()) {
        error_ = QStringLiteral("Xvfb did not start");
        return;
    }
    name_ = QStringLiteral(":") + QString::fromStdString(number);
    qputenv("DISPLAY", name_.toLocal8Bit());
    manager_ = spawn("openbox", {});
    // The manager is up once it owns the screen's selection; xdotool sees its window then.
    for (int i = 0; i < 100; ++i) {
        QProcess probe;
        probe.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
        probe.waitForFinished(2000);
        if (probe.readAllStandardOutput().contains("window id"))
            return;
        QThread::msleep(50);
    }
    error_ = QStringLiteral("openbox did not start");
}

XDisplay::~XDisplay() {
    stop(manager_);
    stop(server_);
}

bool XDoTool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}
