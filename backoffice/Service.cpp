#include "OfficeService.h"
#include "Seed.h"

#include "protocol/Service.h"

#include <atomic>
#include <filesystem>

namespace protocol {

namespace {

class BackOfficeSession final : public PacketSession {
public:
    BackOfficeSession(std::shared_ptr<backoffice::BackOffice> office, std::string source)
        : office_(std::move(office)) {
        session_.source = std::move(source);
    }
    std::string handle(std::string_view request) override {
        std::string reply = office_->handle(session_, request);
        loggedIn_ = session_.open();
        return reply;
    }
    bool loggedIn() const override { return loggedIn_; }

private:
    std::shared_ptr<backoffice::BackOffice> office_;
    backoffice::Session session_;
    std::atomic<bool> loggedIn_{false};
};

class BackOfficeService final : public PacketService {
public:
    explicit BackOfficeService(std::shared_ptr<backoffice::BackOffice> office)
        : office_(std::move(office)) {}
    std::unique_ptr<PacketSession> openSession() override { return openSession("local"); }
    std::unique_ptr<PacketSession> openSession(const std::string& peer) override {
        return std::make_unique<BackOfficeSession>(office_, peer);
    }

private:
    std::shared_ptr<backoffice::BackOffice> office_;
};

} // namespace

std::unique_ptr<PacketService> openBackOfficeService(const std::string& dbPath) {
    if (!std::filesystem::exists(dbPath)) {
        backoffice::Database db(dbPath, true);
        backoffice::seedTraining(db);
    }
    return backoffice::serviceOf(std::make_shared<backoffice::BackOffice>(dbPath));
}

} // namespace protocol

namespace backoffice {

std::unique_ptr<protocol::PacketService> serviceOf(std::shared_ptr<BackOffice> office) {
    return std::make_unique<protocol::BackOfficeService>(std::move(office));
}

} // namespace backoffice
