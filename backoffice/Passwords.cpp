#include "Passwords.h"

#include "Log.h"

#include <sodium.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace backoffice {

void lowerThreadPriority(int by) {
    // From the main thread's: a thread started by one already lowered inherits its priority,
    // and would otherwise go lower still.
    errno = 0;
    const int process = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    if (errno == 0 &&
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), std::min(process + by, 19)) == 0)
        return;
    // Said once: the same refusal would come for every hash.
    const std::string why = std::strerror(errno);
    static std::once_flag said;
    std::call_once(said, [&] {
        logLine(LogPriority::Warning,
                "slow work (password hashes, strangers' requests) cannot run at a lower "
                "priority (" +
                    why + "): logged-in counters share the cores with it as equals");
    });
}

Passwords::Passwords(std::size_t maxHashes, std::chrono::milliseconds hashWait)
    : maxHashes_(std::max<std::size_t>(1, maxHashes)), hashWait_(hashWait) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    key_.resize(crypto_generichash_KEYBYTES);
    randombytes_buf(key_.data(), key_.size());
}

std::string Passwords::hash(std::string_view password) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("out of memory hashing a password");
    return out;
}

std::string Passwords::digest(std::string_view storedHash, std::string_view password) const {
    unsigned char out[crypto_generichash_BYTES];
    crypto_generichash_state state;
    crypto_generichash_init(&state, reinterpret_cast<const unsigned char*>(key_.data()),
                            key_.size(), sizeof out);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(storedHash.data()),
                              storedHash.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(password.data()),
                              password.size());
    crypto_generichash_final(&state, out, sizeof out);
    return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

bool Passwords::remembered(const std::string& operatorNo, const std::string& storedHash,
                           std::string_view password) {
    const std::string seen = digest(storedHash, password);
    std::lock_guard lock(mutex_);
    const auto it = verified_.find(operatorNo);
    return it != verified_.end() && sodium_memcmp(it->second.data(), seen.data(), seen.size()) == 0;
}

Passwords::Turn Passwords::takeTurn() {
    std::unique_lock lock(mutex_);
    if (!freed_.wait_for(lock, hashWait_, [&] { return hashing_ < maxHashes_; }))
        return Turn();
    peakHashes_ = std::max(peakHashes_, ++hashing_);
    return Turn(this);
}

Passwords::Turn::~Turn() {
    if (!owner_)
        return;
    {
        std::lock_guard lock(owner_->mutex_);
        --owner_->hashing_;
    }
    owner_->freed_.notify_one();
}

std::size_t Passwords::peakHashes() const {
    std::lock_guard lock(mutex_);
    return peakHashes_;
}

bool Passwords::verify(const std::string& operatorNo, const std::string& storedHash,
                       std::string_view password) {
    // A thread costs tens of microseconds beside a hash's tens of milliseconds.
    bool verified = false;
    std::thread hasher([&] {
        lowerThreadPriority(slowWorkPriorityDrop);
        verified =
            crypto_pwhash_str_verify(storedHash.c_str(), password.data(), password.size()) == 0;
    });
    hasher.join();
    if (!verified)
        return false;
    const std::string seen = digest(storedHash, password);
    std::lock_guard lock(mutex_);
    verified_[operatorNo] = seen;
    return true;
}

} // namespace backoffice
