#pragma once
// marlo-backoffice run as its users run it: a command with its standard input and
// environment, or `serve` in a process of its own that is stopped by a signal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

using Arguments = std::vector<std::string>;

// A program (found on the PATH unless the name has a slash) with `input` on its standard
// input (not a terminal) and `environment` added to the test's own; given up on and killed
// after 30 s.
inline Outcome runProgram(const std::string& program, const Arguments& arguments,
                          const std::string& input = {},
                          const std::map<std::string, std::string>& environment = {}) {
    // A child that leaves before reading all its input must not end the test.
    static const bool pipesIgnored = (::signal(SIGPIPE, SIG_IGN), true);
    (void)pipesIgnored;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        for (const auto& [name, value] : environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    Outcome outcome;
    std::size_t written = 0;
    int toChild = in[1];
    if (input.empty()) {
        ::close(toChild);
        toChild = -1;
    } else {
        ::fcntl(toChild, F_SETFL, O_NONBLOCK);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool outOpen = true, errOpen = true;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        pollfd p[3] = {{outOpen ? out[0] : -1, POLLIN, 0},
                       {errOpen ? err[0] : -1, POLLIN, 0},
                       {toChild, POLLOUT, 0}};
        if (::poll(p, 3, 100) < 0)
            break;
        char buffer[4096];
        for (int k = 0; k < 2; ++k) {
            if (p[k].revents == 0)
                continue;
            const ssize_t n = ::read(p[k].fd, buffer, sizeof buffer);
            if (n > 0)
                (k == 0 ? outcome.out : outcome.err).append(buffer, static_cast<std::size_t>(n));
            else
                (k == 0 ? outOpen : errOpen) = false;
        }
        if (toChild >= 0 && p[2].revents != 0) {
            const ssize_t n = ::write(toChild, input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n < 0 || written == input.size()) {
                ::close(toChild);
                toChild = -1;
            }
        }
    }
    if (toChild >= 0)
        ::close(toChild);
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    if (outOpen || errOpen) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return {};
    }
    ::waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

inline Arguments operator+(Arguments first, const Arguments& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

// The arguments as a command line shows them, for a failure's message.
inline std::string joined(const Arguments& arguments) {
    std::string out;
    for (const std::string& a : arguments)
        out += (out.empty() ? "" : " ") + a;
    return out;
}

// A command of marlo-backoffice, as runProgram runs it.
inline Outcome backofficeRun(const Arguments& arguments, const std::string& input = {},
                             const std::map<std::string, std::string>& environment = {}) {
    return runProgram(BACKOFFICE_EXE, arguments, input, environment);
}

// `marlo-backoffice serve ARGS` in a process of its own, its standard error in a file; killed
// with SIGKILL when it goes unless it was stopped before.
class ServeProcess {
public:
    ServeProcess(const std::vector<std::string>& arguments, const std::string& errorFile,
                 const std::map<std::string, std::string>& environment = {})
        : errorFile_(errorFile) {
        std::vector<std::string> argv{BACKOFFICE_EXE, "serve"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<std::string> envp;
        for (char** e = environ; *e; ++e)
            envp.emplace_back(*e);
        for (const auto& [name, value] : environment)
            envp.push_back(name + "=" + value);
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        std::vector<char*> env;
        for (std::string& e : envp)
            env.push_back(e.data());
        env.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err, 2);
            ::execve(BACKOFFICE_EXE, args.data(), env.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err);
        std::string banner;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (pid_ > 0 && banner.find('\n') == std::string::npos && ::poll(&p, 1, 30000) == 1 &&
               ::read(out[0], &c, 1) == 1)
            banner.push_back(c);
        ::close(out[0]);
        banner_ = banner;
        const std::size_t colon = banner.rfind(':');
        if (colon != std::string::npos)
            port_ = static_cast<std::uint16_t>(std::stoi(banner.substr(colon + 1)));
    }
    ~ServeProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    std::uint16_t port() const { return port_; }
    const std::string& banner() const { return banner_; }
    pid_t pid() const { return pid_; }

    struct Stopped {
        bool exited = false; // within the wait, of itself
        int exitCode = -1;
        std::chrono::milliseconds took{0};
    };
    // Sends the signal and waits up to `wait` for the process to end.
    Stopped stop(int signal, std::chrono::milliseconds wait) {
        Stopped result;
        if (pid_ <= 0)
            return result;
        const auto start = std::chrono::steady_clock::now();
        ::kill(pid_, signal);
        int status = 0;
        while (std::chrono::steady_clock::now() - start < wait) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                result.exited = WIFEXITED(status);
                result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        result.took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        return result;
    }
    std::string errors() const {
        std::ifstream in(errorFile_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    std::string banner_;
    std::string errorFile_;
};
