#pragma once
// A back office as the packet service the transports and the server talk to.

#include "BackOffice.h"

#include "protocol/Service.h"

#include <memory>

namespace backoffice {

std::unique_ptr<protocol::PacketService> serviceOf(std::shared_ptr<BackOffice> office);

} // namespace backoffice
