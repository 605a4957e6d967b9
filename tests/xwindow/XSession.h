#pragma once
// Tests in a real X window: a private X server on a free display with a window manager,
// both started and stopped by PID, and xdotool as a separate process for keys and clicks,
// so that input goes through the X server's queue as an operator's does. The test main
// starts the session before the application connects to it; the helpers spin the event
// loop while they wait, so the application answers the X server meanwhile.

#include <QImage>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>

class QWidget;

namespace xwindow {

// A child process by PID: terminated and reaped by its owner, and killed by the kernel
// if the test dies first.
class Child {
public:
    Child() = default;
    // Starts the program (looked up in PATH) with its arguments; `keepFd` stays open in
    // it, and its standard output goes to `outputFd` when one is given.
    explicit Child(const QStringList& argv, int keepFd = -1, int outputFd = -1);
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    pid_t pid() const { return pid_; }
    // True once it has exited; its exit status then in `status`.
    bool finished(int* status = nullptr);
    // Spins the event loop until it exits; its exit code, or -1 after the time-out.
    int wait(int timeoutMs = 10000);
    // SIGTERM, then SIGKILL after a short grace; reaps it.
    void stop();

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

// The X server and window manager of this test process; DISPLAY names it once started.
class Session {
public:
    // Starts Xvfb on a free display (1024x768, or the size MARLO_X_SCREEN names) and
    // openbox on it; false with the reason on failure.
    bool start(QString* error);
    void stop();
    QString display() const { return display_; }

private:
    Child server_;
    Child windowManager_;
    QString display_;
};

// Starts a program and reads the first line it writes to its standard output (the address
// a server took, say); empty when none came within the time-out.
Child startReading(const QStringList& argv, QString* firstLine, int timeoutMs = 10000);

// Spins the event loop until the condition holds; false after the time-out.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);
// Spins the event loop for that long (for "nothing happens" checks).
void spin(int ms);

// Runs xdotool with those arguments and waits for it, the event loop spinning.
bool xdotool(const QStringList& arguments);
// Starts xdotool and returns at once: input that must arrive while the application is busy.
Child xdotoolLater(const QStringList& arguments);
// Key names as xdotool knows them ("Return", "Tab", "shift+Tab", "F5").
bool keys(const QStringList& names);
// Types the text key by key.
bool type(const QString& text);
// Moves the pointer to the widget's centre and clicks the left button there.
bool click(const QWidget* widget);
// Moves the pointer to the widget's centre.
bool pointAt(const QWidget* widget);
// Raises and focuses the widget's window through the window manager; true once active.
bool activate(QWidget* widget);

// Counts the bells the X server rings from its start on, as any client of the display
// may hear them (the keyboard extension's bell notices).
class BellCounter {
public:
    BellCounter();
    ~BellCounter();
    BellCounter(const BellCounter&) = delete;
    BellCounter& operator=(const BellCounter&) = delete;

    bool listening() const { return listening_; }
    // The bells rung so far.
    int rung();

private:
    void* display_ = nullptr;
    int eventBase_ = 0;
    bool listening_ = false;
    int rung_ = 0;
};

// The widget's window as it shows on the screen, frame included, saved as
// build/<preset>/screens/<name>.png; the file's path, empty on failure.
QString grabWindow(const QWidget* widget, const QString& name);
// The whole X screen with the pointer drawn where the X server shows it.
QString grabScreen(const QString& name);
// The name of the cursor the X server shows now ("watch", "left_ptr", ...); empty when
// the cursor has none (a cursor of the core cursor font).
QString cursorName();
// The picture of the cursor the X server shows now.
QImage cursorImage();

} // namespace xwindow
