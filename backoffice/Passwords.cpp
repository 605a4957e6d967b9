#include "Passwords.h"

#include <sodium.h>

#include <stdexcept>

namespace backoffice {

Passwords::Passwords() {
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

bool Passwords::verify(const std::string& operatorNo, const std::string& storedHash,
                       std::string_view password) {
    const std::string seen = digest(storedHash, password);
    {
        std::lock_guard lock(mutex_);
        const auto it = verified_.find(operatorNo);
        if (it != verified_.end() &&
            sodium_memcmp(it->second.data(), seen.data(), seen.size()) == 0)
            return true;
    }
    if (crypto_pwhash_str_verify(storedHash.c_str(), password.data(), password.size()) != 0)
        return false;
    std::lock_guard lock(mutex_);
    verified_[operatorNo] = seen;
    return true;
}

} // namespace backoffice
