#include "BackOffice.h"
#include "Seed.h"

#include "protocol/Service.h"

#include <filesystem>

namespace protocol {

namespace {
class BackOfficeService final : public PacketService {
public:
    explicit BackOfficeService(const std::string& dbPath) : office_(dbPath) {}
    std::string handle(std::string_view request) override { return office_.handle(request); }

private:
    backoffice::BackOffice office_;
};
} // namespace

std::unique_ptr<PacketService> openBackOfficeService(const std::string& dbPath) {
    if (!std::filesystem::exists(dbPath)) {
        backoffice::Database db(dbPath, true);
        backoffice::seedTraining(db);
    }
    return std::make_unique<BackOfficeService>(dbPath);
}

} // namespace protocol
