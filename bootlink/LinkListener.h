#pragma once

#include "bootlink/BootCommand.h"

#include <array>
#include <cstdint>
#include <span>

namespace ostrel {

// A reply as the link reports it: a copy of the data after the command byte (CRC removed), so
// the receiver never reads the worker's buffer.
struct LinkReply {
    BootCommand command = BootCommand::Query;
    std::array<std::uint8_t, 252> data{};
    std::size_t length = 0;

    std::span<const std::uint8_t> Data() const { return {data.data(), length}; }
};

// Where the link's worker reports. Both calls come from the worker thread and must only post:
// they may not block or wait for the thread that drives the link.
class LinkListener {
public:
    virtual ~LinkListener() = default;
    virtual void PostLinkReply(const LinkReply& reply) = 0;
    virtual void PostLinkTimeout(BootCommand command) = 0;
    // A command's frame went out again after its time-out; send counts from 1 for the first.
    virtual void PostLinkResend(BootCommand /*command*/, std::uint16_t /*send*/) {}
};

} // namespace ostrel
