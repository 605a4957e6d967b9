#include "IdleThread.h"

#include "Log.h"
#include "Passwords.h"

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <cstring>

namespace backoffice {

IdleThread::IdleThread(const char* name) : thread_([this, name] { serve(name); }) {}

IdleThread::~IdleThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void IdleThread::run(const std::function<void()>& job) {
    std::unique_lock lock(mutex_);
    job_ = &job;
    changed_.notify_all();
    changed_.wait(lock, [&] { return job_ == nullptr; });
}

void IdleThread::serve(const char* name) {
    ::pthread_setname_np(::pthread_self(), name);
    // Where the system refuses the class (a service's system call filter, say), the thread
    // runs as the server's other slow work does, and the log says so once.
    const sched_param none{};
    if (::sched_setscheduler(0, SCHED_IDLE, &none) != 0) {
        logLine(LogPriority::Warning, std::string("the ") + name +
                                          " thread cannot run at the idle scheduling class (" +
                                          std::strerror(errno) + "): it runs at a lower priority");
        lowerThreadPriority(slowWorkPriorityDrop);
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || job_ != nullptr; });
        if (job_ == nullptr)
            return;
        lock.unlock();
        (*job_)();
        lock.lock();
        job_ = nullptr;
        changed_.notify_all();
    }
}

} // namespace backoffice
