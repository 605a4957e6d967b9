#include "JournalCheckpoints.h"

#include "Database.h"
#include "Journal.h"

namespace backoffice {

JournalCheckpoints::JournalCheckpoints(std::string databasePath, std::chrono::milliseconds interval,
                                       std::function<void(const std::string&)> log)
    : path_(std::move(databasePath)), interval_(interval), log_(std::move(log)) {
    thread_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            lock.unlock();
            logHead();
            lock.lock();
            wake_.wait_for(lock, interval_, [this] { return stopping_; });
        }
    });
}

JournalCheckpoints::~JournalCheckpoints() {
    {
        const std::scoped_lock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    logHead();
}

void JournalCheckpoints::logHead() {
    std::string line;
    try {
        Database db(path_, Database::ReadOnly{});
        const JournalCheckpoint head = journalHead(db);
        if (head.entryNo == 0)
            return;
        line = "journal checkpoint " + formatJournalCheckpoint(head);
    } catch (const std::exception& e) {
        line = std::string("journal checkpoint not read: ") + e.what();
    }
    if (line != lastLogged_) {
        lastLogged_ = line;
        log_(line);
    }
}

} // namespace backoffice
