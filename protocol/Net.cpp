#include "protocol/Net.h"

#include <boost/asio/ip/address.hpp>

#include <openssl/evp.h>
#include <openssl/sha.h>

namespace protocol::net {

bool isLoopback(const std::string& host) {
    if (host == "localhost")
        return true;
    boost::system::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    return !ec && address.is_loopback();
}

std::string fingerprintOfDer(const std::string& der) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest);
    unsigned char text[4 * ((SHA256_DIGEST_LENGTH + 2) / 3) + 1];
    const int length = EVP_EncodeBlock(text, digest, SHA256_DIGEST_LENGTH);
    std::string base64(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
    while (!base64.empty() && base64.back() == '=')
        base64.pop_back();
    return "SHA256:" + base64;
}

} // namespace protocol::net
