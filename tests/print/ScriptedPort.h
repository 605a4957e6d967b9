#pragma once
// A printer device for tests: its status is scripted and the bytes written are kept.

#include "PrinterPort.h"

#include <cerrno>
#include <memory>
#include <string>

struct PortScript {
    // The status byte the port gives; 0x90 is a selected printer, not busy.
    std::uint8_t status = 0x90;
    std::string written;
    int opened = 0;
    bool openable = true;
    // How many of the next bytes the device refuses while it says it is ready (-1: all);
    // the port tells a refused byte only in the next status, as a time-out.
    int refuse = 0;
    int refused = 0;
};

class ScriptedPort final : public TPrinterPort {
public:
    explicit ScriptedPort(std::shared_ptr<PortScript> script) : script_(std::move(script)) {}
    std::uint8_t Status() override {
        const std::uint8_t status = script_->status | pending_;
        pending_ = 0;
        return status;
    }
    bool Print(std::uint8_t byte) override {
        if (script_->refuse != 0) {
            if (script_->refuse > 0)
                --script_->refuse;
            ++script_->refused;
            pending_ = 0x01;
            return false;
        }
        script_->written += static_cast<char>(byte);
        return true;
    }

private:
    std::shared_ptr<PortScript> script_;
    std::uint8_t pending_ = 0;
};

// Installs the scripted device for the life of the guard.
class ScriptedDevice {
public:
    ScriptedDevice() {
        SetPortOpener([s = script](const std::string& device,
                                   TPortError& error) -> std::unique_ptr<TPrinterPort> {
            if (!s->openable) {
                error = {device, "open", ENOENT};
                return nullptr;
            }
            ++s->opened;
            return std::make_unique<ScriptedPort>(s);
        });
    }
    ~ScriptedDevice() { SetPortOpener(nullptr); }
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    std::shared_ptr<PortScript> script = std::make_shared<PortScript>();
};
