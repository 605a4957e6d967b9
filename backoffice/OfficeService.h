#pragma once
// A back office as the packet service the transports and the server talk to.

#include "BackOffice.h"

#include "protocol/Service.h"

#include <memory>

namespace backoffice {

class SessionRegistry;

// With a registry, each session tells it who is logged in and counts its requests.
std::unique_ptr<protocol::PacketService> serviceOf(std::shared_ptr<BackOffice> office,
                                                   std::shared_ptr<SessionRegistry> registry = {});

} // namespace backoffice
