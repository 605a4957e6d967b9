#pragma once
// Operator passwords: stored as libsodium password hashes. A verification is slow on
// purpose, so a password that verified once is remembered (as a keyed digest, never in
// clear) for later requests of the same operator.

#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace backoffice {

class Passwords {
public:
    Passwords();
    static std::string hash(std::string_view password);
    bool verify(const std::string& operatorNo, const std::string& storedHash,
                std::string_view password);

private:
    std::string digest(std::string_view storedHash, std::string_view password) const;

    std::mutex mutex_;
    std::string key_; // random per process
    std::map<std::string, std::string> verified_;
};

} // namespace backoffice
