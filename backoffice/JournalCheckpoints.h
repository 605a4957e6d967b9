#pragma once
// While a server serves, the head of its journal goes to the log from time to time (and when
// it stops), so that the log kept apart from the database holds checkpoints an auditor can
// hold the journal to with `journal verify --expect`.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace backoffice {

class JournalCheckpoints {
public:
    // `log` gets each line, from a thread of its own; a head already logged is not logged again.
    JournalCheckpoints(std::string databasePath, std::chrono::milliseconds interval,
                       std::function<void(const std::string&)> log);
    // Logs the head a last time.
    ~JournalCheckpoints();
    JournalCheckpoints(const JournalCheckpoints&) = delete;
    JournalCheckpoints& operator=(const JournalCheckpoints&) = delete;

private:
    void logHead();

    std::string path_;
    std::chrono::milliseconds interval_;
    std::function<void(const std::string&)> log_;
    std::string lastLogged_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace backoffice
