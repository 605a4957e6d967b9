#include "Log.h"
#include "OfficeService.h"
#include "Seed.h"
#include "ServerStatus.h"

#include "protocol/Packet.h"
#include "protocol/Service.h"

#include <atomic>
#include <filesystem>

namespace protocol {

namespace {

class BackOfficeSession final : public PacketSession {
public:
    BackOfficeSession(std::shared_ptr<backoffice::BackOffice> office, std::string source,
                      std::shared_ptr<backoffice::SessionRegistry> registry)
        : office_(std::move(office)), registry_(std::move(registry)),
          registered_(registry_ ? registry_->open() : 0) {
        session_.source = std::move(source);
    }
    ~BackOfficeSession() override {
        try {
            office_->endSession(session_, "连接关闭");
        } catch (const std::exception& e) {
            backoffice::logLine(backoffice::LogPriority::Error,
                                std::string("marlo-backoffice: a logout is not journaled: ") +
                                    e.what());
        }
        if (registry_)
            registry_->close(registered_);
    }
    BackOfficeSession(const BackOfficeSession&) = delete;
    BackOfficeSession& operator=(const BackOfficeSession&) = delete;
    std::string handle(std::string_view request) override {
        std::string reply = office_->handle(session_, request);
        loggedIn_ = session_.open();
        holdBack_ = session_.holdBack.count();
        if (registry_) {
            registry_->update(registered_, session_.operatorNo, session_.source);
            PacketView answer;
            if (answer.decode(reply) == DecodeStatus::Ok)
                registry_->count(answer.functionNo(), answer.returnCode() != 0);
        }
        return reply;
    }
    bool loggedIn() const override { return loggedIn_; }
    std::chrono::milliseconds holdBack() const override {
        return std::chrono::milliseconds(holdBack_.load());
    }

private:
    std::shared_ptr<backoffice::BackOffice> office_;
    std::shared_ptr<backoffice::SessionRegistry> registry_;
    std::uint64_t registered_;
    backoffice::Session session_;
    std::atomic<bool> loggedIn_{false};
    std::atomic<std::int64_t> holdBack_{0};
};

class BackOfficeService final : public PacketService {
public:
    BackOfficeService(std::shared_ptr<backoffice::BackOffice> office,
                      std::shared_ptr<backoffice::SessionRegistry> registry)
        : office_(std::move(office)), registry_(std::move(registry)) {}
    std::unique_ptr<PacketSession> openSession() override { return openSession("local"); }
    std::unique_ptr<PacketSession> openSession(const std::string& peer) override {
        return std::make_unique<BackOfficeSession>(office_, peer, registry_);
    }

private:
    std::shared_ptr<backoffice::BackOffice> office_;
    std::shared_ptr<backoffice::SessionRegistry> registry_;
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

std::unique_ptr<protocol::PacketService> serviceOf(std::shared_ptr<BackOffice> office,
                                                   std::shared_ptr<SessionRegistry> registry) {
    return std::make_unique<protocol::BackOfficeService>(std::move(office), std::move(registry));
}

} // namespace backoffice
