#include "ScriptedTransport.h"

#include "protocol/Packet.h"

namespace counter {

void Script::answer(std::string reply, std::int32_t functionNo) {
    std::lock_guard lock(mutex_);
    steps_.push_back({std::move(reply), functionNo, false});
}

void Script::answerLater(std::string reply, std::int32_t functionNo) {
    std::lock_guard lock(mutex_);
    steps_.push_back({std::move(reply), functionNo, true});
}

void Script::releaseHeld() {
    std::vector<std::pair<std::int64_t, std::string>> held;
    Transport::Callbacks callbacks;
    {
        std::lock_guard lock(mutex_);
        held.swap(held_);
        callbacks = callbacks_;
    }
    if (!callbacks.deliver)
        return;
    for (auto& [id, reply] : held)
        callbacks.deliver(id, std::move(reply));
}

std::vector<std::string> Script::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t Script::pendingAnswers() const {
    std::lock_guard lock(mutex_);
    return steps_.size();
}

std::string Script::errorReply(std::int32_t functionNo, const std::string& info) {
    protocol::PacketWriter writer(functionNo, -1);
    writer.addField("error_no", protocol::FieldType::Integer);
    writer.addField("error_info", protocol::FieldType::Text);
    writer.beginRecord();
    writer.integer(-1);
    writer.text(info);
    std::string packet;
    writer.finish(packet);
    return packet;
}

ScriptedTransport::~ScriptedTransport() {
    std::lock_guard lock(script_->mutex_);
    script_->callbacks_ = {};
}

void ScriptedTransport::connect(Callbacks callbacks) {
    std::lock_guard lock(script_->mutex_);
    script_->callbacks_ = std::move(callbacks);
}

HRESULT ScriptedTransport::submit(std::int64_t packetId, std::string request) {
    protocol::PacketView view;
    const std::int32_t functionNo =
        view.decode(request) == protocol::DecodeStatus::Ok ? view.functionNo() : 0;
    std::string reply;
    Transport::Callbacks callbacks;
    {
        std::lock_guard lock(script_->mutex_);
        script_->requests_.push_back(std::move(request));
        if (script_->steps_.empty()) {
            reply = Script::errorReply(functionNo, "no scripted reply for function " +
                                                       std::to_string(functionNo));
        } else {
            Script::Step step = std::move(script_->steps_.front());
            script_->steps_.pop_front();
            if (step.functionNo != 0 && step.functionNo != functionNo) {
                reply = Script::errorReply(functionNo, "scripted reply was for function " +
                                                           std::to_string(step.functionNo));
            } else if (step.held) {
                script_->held_.emplace_back(packetId, std::move(step.reply));
                return hr::ok;
            } else {
                reply = std::move(step.reply);
            }
        }
        callbacks = script_->callbacks_;
    }
    if (callbacks.deliver)
        callbacks.deliver(packetId, std::move(reply));
    return hr::ok;
}

} // namespace counter
