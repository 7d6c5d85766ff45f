#include "sim/CommandDeframer.h"

#include "image/Crc16.h"
#include "sim/FrameControl.h"

#include <optional>

namespace ostrel::sim {

DeframeResult CommandDeframer::Feed(std::span<const std::uint8_t> bytes) {
    std::optional<DeframeStatus> failure;
    for (const std::uint8_t byte : bytes) {
        if (!inFrame) {
            // Outside a frame only SOH means anything: stray bytes, even a DLE, are dropped
            // so that they cannot swallow the SOH of the next frame.
            if (byte == SOH) {
                inFrame = true;
                body.clear();
                overflow = false;
                escapePending = false;
            }
            continue;
        }
        if (escapePending) {
            escapePending = false;
        } else if (byte == SOH) {
            body.clear();
            overflow = false;
            continue;
        } else if (byte == DLE) {
            escapePending = true;
            continue;
        } else if (byte == EOT) {
            const DeframeStatus status = Close();
            if (status == DeframeStatus::Frame) {
                DeframeResult result{status, std::move(body)};
                result.payload.resize(result.payload.size() - 2);
                body.clear();
                return result;
            }
            failure = status;
            continue;
        }
        if (body.size() < MAX_BODY) {
            body.push_back(byte);
        } else {
            overflow = true;
        }
    }
    if (inFrame) {
        return {DeframeStatus::Incomplete, {}};
    }
    return {failure.value_or(DeframeStatus::NoFrame), {}};
}

DeframeStatus CommandDeframer::Close() {
    inFrame = false;
    if (overflow) {
        return DeframeStatus::TooLong;
    }
    if (body.size() < 3) {
        return DeframeStatus::TooShort;
    }
    const std::size_t length = body.size() - 2;
    const auto received = static_cast<std::uint16_t>(body[length] | (body[length + 1] << 8));
    if (Crc16(std::span(body).first(length)) != received) {
        return DeframeStatus::BadCrc;
    }
    return DeframeStatus::Frame;
}

void CommandDeframer::Reset() {
    body.clear();
    inFrame = false;
    escapePending = false;
    overflow = false;
}

} // namespace ostrel::sim
