#include "ServerStatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace backoffice {

std::string formatServerSnapshot(const ServerSnapshot& s) {
    // One fact a line, its name first; the addresses and numbers hold no blanks.
    std::ostringstream out;
    out << "marlo-backoffice-status 1\n"
        << "pid " << s.pid << "\nstarted " << s.started << "\nversion " << s.version << "\nlisten "
        << s.listen << "\nguesses-per-hour " << s.guessesPerHour << "\ncertificate "
        << s.certificate << '\n';
    for (const LoggedInSession& session : s.sessions)
        out << "session " << session.since << ' ' << session.source << ' ' << session.operatorNo
            << '\n';
    for (const auto& [functionNo, counts] : s.functions)
        out << "function " << functionNo << ' ' << counts.requests << ' ' << counts.refusals
            << '\n';
    return out.str();
}

std::optional<ServerSnapshot> parseServerSnapshot(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "marlo-backoffice-status 1")
        return std::nullopt;
    ServerSnapshot s;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        if (name == "pid")
            words >> s.pid;
        else if (name == "started")
            words >> s.started;
        else if (name == "version")
            words >> s.version;
        else if (name == "listen")
            words >> s.listen;
        else if (name == "guesses-per-hour")
            words >> s.guessesPerHour;
        else if (name == "certificate")
            // The rest of the line, a path that may hold blanks, or nothing for clear TCP.
            s.certificate = line.substr(std::min(line.size(), name.size() + 1));
        else if (name == "session") {
            LoggedInSession session;
            words >> session.since >> session.source;
            std::getline(words >> std::ws, session.operatorNo);
            s.sessions.push_back(session);
        } else if (name == "function") {
            std::int32_t functionNo = 0;
            FunctionCounts counts;
            words >> functionNo >> counts.requests >> counts.refusals;
            s.functions[functionNo] = counts;
        }
        if (words.fail())
            return std::nullopt;
    }
    return s;
}

std::string serverSnapshotPath(const std::string& db) {
    return db + ".status";
}

std::uint64_t SessionRegistry::open() {
    const std::lock_guard lock(mutex_);
    return ++next_;
}

void SessionRegistry::update(std::uint64_t session, const std::string& operatorNo,
                             const std::string& source) {
    const std::lock_guard lock(mutex_);
    const auto found = sessions_.find(session);
    if (operatorNo.empty()) {
        if (found != sessions_.end()) {
            sessions_.erase(found);
            changed_ = true;
        }
        return;
    }
    if (found != sessions_.end() && found->second.operatorNo == operatorNo)
        return;
    sessions_[session] = {operatorNo, source, std::time(nullptr)};
    changed_ = true;
}

void SessionRegistry::close(std::uint64_t session) {
    update(session, {}, {});
}

void SessionRegistry::count(std::int32_t functionNo, bool refused) {
    const std::lock_guard lock(mutex_);
    FunctionCounts& counts = about_.functions[functionNo];
    ++counts.requests;
    if (refused)
        ++counts.refusals;
    changed_ = true;
}

ServerSnapshot SessionRegistry::snapshot() const {
    const std::lock_guard lock(mutex_);
    ServerSnapshot s = about_;
    for (const auto& [number, session] : sessions_)
        s.sessions.push_back(session);
    return s;
}

bool SessionRegistry::changed() const {
    const std::lock_guard lock(mutex_);
    return changed_;
}

void SessionRegistry::setListen(const std::string& listen) {
    const std::lock_guard lock(mutex_);
    about_.listen = listen;
    changed_ = true;
}

void SessionRegistry::setCertificate(const std::string& certificate) {
    const std::lock_guard lock(mutex_);
    about_.certificate = certificate;
    changed_ = true;
}

bool SessionRegistry::publish(const std::string& path) const {
    std::string text;
    {
        const std::lock_guard lock(mutex_);
        changed_ = false;
    }
    text = formatServerSnapshot(snapshot());
    const std::string part = path + ".part";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // Whatever the umask or an older file's mode, it stays the owner's.
    bool ok = ::fchmod(fd, 0600) == 0 &&
              ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(part.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(part.c_str());
    return ok;
}

} // namespace backoffice
