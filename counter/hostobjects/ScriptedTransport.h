#pragma once
// A transport for tests: it answers from a script and records every request. The script
// outlives the transport, so a test keeps it to add answers, read what was sent and let
// held replies arrive late.

#include "Transport.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace counter {

class Script {
public:
    // The next request gets this reply. A function number other than 0 must match the
    // request's, or the request gets an error reply instead.
    void answer(std::string reply, std::int32_t functionNo = 0);
    // As answer, but the reply is kept until releaseHeld().
    void answerLater(std::string reply, std::int32_t functionNo = 0);
    // Delivers every held reply now.
    void releaseHeld();

    std::vector<std::string> requests() const;
    std::size_t pendingAnswers() const;

    // The reply a request gets when the script has nothing for it: return code -1.
    static std::string errorReply(std::int32_t functionNo, const std::string& info);

private:
    friend class ScriptedTransport;
    struct Step {
        std::string reply;
        std::int32_t functionNo;
        bool held;
    };

    mutable std::mutex mutex_;
    std::deque<Step> steps_;
    std::vector<std::string> requests_;
    std::vector<std::pair<std::int64_t, std::string>> held_;
    Transport::Callbacks callbacks_;
};

class ScriptedTransport final : public Transport {
public:
    explicit ScriptedTransport(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    ~ScriptedTransport() override;

    void connect(Callbacks callbacks) override;
    HRESULT submit(std::int64_t packetId, std::string request) override;

private:
    std::shared_ptr<Script> script_;
};

} // namespace counter
