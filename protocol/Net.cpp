#include "protocol/Net.h"

#include <boost/asio/ip/address.hpp>

namespace protocol::net {

bool isLoopback(const std::string& host) {
    if (host == "localhost")
        return true;
    boost::system::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    return !ec && address.is_loopback();
}

} // namespace protocol::net
