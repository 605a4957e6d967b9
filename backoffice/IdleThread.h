#pragma once
// A thread at the idle scheduling class: it runs only on a core nothing else wants, and any
// other thread that wakes takes the core from it at once. A priority, however low, is not
// that: a thread at nice 19 that has the core keeps it for its time slice (up to a few
// milliseconds on a busy machine) while a counter's request that just came in waits. For
// work that must never delay anyone's, short and holding no lock others wait on. It runs one
// job at a time, its caller waiting, so that the caller's budget of cores holds it too.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace backoffice {

class IdleThread {
public:
    // `name` is what `top -H` and the like show for the thread (at most 15 bytes).
    explicit IdleThread(const char* name);
    ~IdleThread();
    IdleThread(const IdleThread&) = delete;
    IdleThread& operator=(const IdleThread&) = delete;

    // Runs `job` on the thread; returns once it has run.
    void run(const std::function<void()>& job);

private:
    void serve(const char* name);

    std::mutex mutex_;
    std::condition_variable changed_;
    const std::function<void()>* job_ = nullptr;
    bool stopping_ = false;
    std::thread thread_; // last: started once the rest is built
};

} // namespace backoffice
