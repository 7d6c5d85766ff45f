#pragma once

#include "bootlink/BootCommand.h"
#include "bootlink/LinkListener.h"
#include "common/DeviceAddress.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ostrel {

struct LinkProgress {
    std::uint32_t done = 0;
    std::uint32_t total = 0;
};

// What a firmware update asks of the bootloader link. All calls come from one thread, the one
// that drives the update; replies and time-outs come back through the LinkListener.
class LinkOperations {
public:
    virtual ~LinkOperations() = default;

    virtual bool LoadHexFile(const std::string& path) = 0;
    virtual bool Open(std::uint16_t port, DeviceAddress address) = 0;
    virtual bool IsOpen() const = 0;
    virtual void SendRaw(std::span<const std::uint8_t> bytes) = 0;
    virtual void StartWorker(LinkListener& listener) = 0;
    virtual void StopWorker() = 0;
    // Builds the frame and arms its attempts; false (and nothing armed) when no frame could be
    // built. Only to be called while the link is idle.
    virtual bool SendCommand(BootCommand command, std::uint16_t attempts,
                             std::chrono::milliseconds timeout) = 0;
    // Records read so far while programming, sends made so far for any other command;
    // nothing before the first command.
    virtual std::optional<LinkProgress> GetProgress() const = 0;
    virtual std::uint16_t ImageCrc() = 0;
};

} // namespace ostrel
