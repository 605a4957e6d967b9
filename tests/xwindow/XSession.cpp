#include "XSession.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPointF>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace xwindow {

Child::Child(const QStringList& argv, int keepFd, int outputFd) {
    std::vector<std::string> args;
    for (const QString& a : argv)
        args.push_back(a.toStdString());
    std::vector<char*> raw;
    for (std::string& a : args)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Dies with the test, so no X server outlives a crashed test.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (keepFd >= 0)
            fcntl(keepFd, F_SETFD, 0);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(outputFd >= 0 ? outputFd : null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execvp(raw[0], raw.data());
        _exit(127);
    }
}

Child::Child(Child&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

Child::~Child() {
    stop();
}

bool Child::finished(int* status) {
    if (pid_ <= 0) {
        if (status)
            *status = status_;
        return true;
    }
    int s = 0;
    if (waitpid(pid_, &s, WNOHANG) != pid_)
        return false;
    pid_ = -1;
    status_ = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    if (status)
        *status = status_;
    return true;
}

int Child::wait(int timeoutMs) {
    int status = -1;
    if (!waitFor([&] { return finished(&status); }, timeoutMs))
        return -1;
    return status;
}

void Child::stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGCONT); // a stopped child hears SIGTERM only once it runs
    kill(pid_, SIGTERM);
    QDeadlineTimer grace(2000);
    while (!finished() && !grace.hasExpired())
        QThread::msleep(5);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

namespace {

// The first line written to the pipe within the time-out; the pipe is closed.
std::string firstLineOf(int fd, int timeoutMs) {
    std::string line;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char c = 0;
        if (read(fd, &c, 1) != 1 || c == '\n')
            break;
        line += c;
    }
    close(fd);
    return line;
}

} // namespace

Child startReading(const QStringList& argv, QString* firstLine, int timeoutMs) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    Child child(argv, -1, pipeFds[1]);
    close(pipeFds[1]);
    *firstLine = QString::fromStdString(firstLineOf(pipeFds[0], timeoutMs));
    return child;
}

bool Session::start(QString* error) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("pipe failed");
        return false;
    }
    // The server repeats a key held down, xdotool's keys included: on a busy machine
    // xdotool can be held between a key's press and its release for longer than the
    // repeat delay, and one Enter would arrive as several. A minute's delay keeps a tap a
    // tap.
    // The screen is 1024x768 unless MARLO_X_SCREEN names another size ("1280x800").
    const QString size = qEnvironmentVariable("MARLO_X_SCREEN", QStringLiteral("1024x768"));
    server_ =
        Child({"Xvfb", "-displayfd", QString::number(pipeFds[1]), "-screen", "0",
               size + QStringLiteral("x24"), "-nolisten", "tcp", "-noreset", "-ardelay", "60000"},
              pipeFds[1]);
    close(pipeFds[1]);
    // Xvfb writes the display number it took once it accepts connections.
    const std::string number = firstLineOf(pipeFds[0], 10000);
    if (number.empty()) {
        *error = QStringLiteral("Xvfb did not start");
        return false;
    }
    display_ = QStringLiteral(":") + QString::fromStdString(number);
    qputenv("DISPLAY", display_.toLocal8Bit());

    // openbox runs its start-up command once it manages the screen.
    static QTemporaryDir dir;
    const QString ready = dir.filePath(QStringLiteral("wm-ready-%1").arg(getpid()));
    windowManager_ = Child({"openbox", "--sm-disable", "--startup", "touch " + ready});
    QDeadlineTimer deadline(10000);
    while (!QFile::exists(ready) && !deadline.hasExpired())
        QThread::msleep(10);
    if (!QFile::exists(ready)) {
        *error = QStringLiteral("openbox did not start on ") + display_;
        return false;
    }
    return true;
}

void Session::stop() {
    windowManager_.stop();
    server_.stop();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    }
    return true;
}

void spin(int ms) {
    waitFor([] { return false; }, ms);
}

Child xdotoolLater(const QStringList& arguments) {
    return Child(QStringList{"xdotool"} + arguments);
}

bool xdotool(const QStringList& arguments) {
    return xdotoolLater(arguments).wait() == 0;
}

bool keys(const QStringList& names) {
    return xdotool(QStringList{"key", "--delay", "40"} + names);
}

bool type(const QString& text) {
    return xdotool({"type", "--delay", "40", text});
}

bool pointAt(const QWidget* widget) {
    // Not `mousemove --sync`: it waits for a motion that never comes when the pointer is
    // there already.
    // xdotool counts the screen's pixels; the toolkit, at a scale, its own larger ones.
    const QPoint centre = widget->mapToGlobal(widget->rect().center());
    const QPoint pixel = (QPointF(centre) * widget->devicePixelRatioF()).toPoint();
    return xdotool({"mousemove", QString::number(pixel.x()), QString::number(pixel.y())}) &&
           waitFor([&] { return (QCursor::pos() - centre).manhattanLength() <= 1; });
}

bool click(const QWidget* widget) {
    return pointAt(widget) && xdotool({"click", "1"});
}

bool activate(QWidget* widget) {
    QWidget* window = widget->window();
    window->show();
    if (!waitFor([&] { return window->isVisible() && window->windowHandle()->isExposed(); }))
        return false;
    xdotool({"windowactivate", "--sync", QString::number(window->winId())});
    return waitFor([&] { return window->isActiveWindow(); });
}

namespace {

QString save(const QImage& picture, const QString& name) {
    const QString dir = QStringLiteral(SCREEN_DIR);
    QDir().mkpath(dir);
    const QString path = dir + "/" + name + ".png";
    return picture.save(path) ? path : QString();
}

// The X server's current cursor: its picture, hot spot, position and name.
struct Cursor {
    QImage image;
    QPoint position;
    QString name;
};

Cursor currentCursor() {
    Cursor cursor;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return cursor;
    if (XFixesCursorImage* c = XFixesGetCursorImage(display)) {
        cursor.image = QImage(c->width, c->height, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < c->height; ++y) {
            for (int x = 0; x < c->width; ++x)
                cursor.image.setPixel(
                    x, y, static_cast<QRgb>(c->pixels[y * c->width + x] & 0xffffffffUL));
        }
        cursor.position = QPoint(c->x - c->xhot, c->y - c->yhot);
        cursor.name = QString::fromLatin1(c->name ? c->name : "");
        XFree(c);
    }
    XCloseDisplay(display);
    return cursor;
}

} // namespace

BellCounter::BellCounter() {
    Display* display = XOpenDisplay(nullptr);
    display_ = display;
    int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (display && XkbQueryExtension(display, &opcode, &eventBase_, &error, &major, &minor)) {
        XkbSelectEvents(display, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
        XSync(display, False);
        listening_ = true;
    }
}

BellCounter::~BellCounter() {
    if (display_)
        XCloseDisplay(static_cast<Display*>(display_));
}

int BellCounter::rung() {
    if (!listening_)
        return rung_;
    auto* display = static_cast<Display*>(display_);
    XSync(display, False);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == eventBase_ &&
            reinterpret_cast<XkbEvent*>(&event)->any.xkb_type == XkbBellNotify)
            ++rung_;
    }
    return rung_;
}

QString grabWindow(const QWidget* widget, const QString& name) {
    QCoreApplication::processEvents();
    const QWidget* window = widget->window();
    const QRect frame = window->frameGeometry();
    QScreen* screen = window->screen();
    return save(
        screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage(), name);
}

QString grabScreen(const QString& name) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QImage picture = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const Cursor cursor = currentCursor();
    if (!cursor.image.isNull()) {
        QPainter painter(&picture);
        painter.drawImage(cursor.position, cursor.image);
    }
    return save(picture, name);
}

QString cursorName() {
    return currentCursor().name;
}

QImage cursorImage() {
    return currentCursor().image;
}

} // namespace xwindow
