// Arbitrary datagrams into the reply decoder, one receive at a time as the link's worker feeds
// them. Every frame it reports must be one a module could have sent: 3 to 252 decoded bytes
// ending in their own CRC-16 (checked with a bitwise CRC of our own), with the reply data
// between the command byte and the CRC. A plain model of the decoding rules, run alongside,
// must agree on every datagram, so a frame that should have been taken is not missed either.
#include "bootlink/FrameDecoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

constexpr std::size_t maxDatagram = 245;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

std::uint16_t BitwiseCrc16(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : data) {
        crc ^= static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                      : static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

// The decoding rules, written out plainly: state carries over between datagrams, the first
// good frame of a datagram ends its decoding, and a frame over 252 bytes starts over.
class ModelDecoder {
public:
    void Feed(std::span<const std::uint8_t> datagram) {
        for (const std::uint8_t byte : datagram) {
            if (ready) {
                return;
            }
            if (stored.size() >= 253) {
                stored.clear();
            }
            if (escaped) {
                stored.push_back(byte);
                escaped = false;
            } else if (byte == 0x01) {
                stored.clear();
            } else if (byte == 0x10) {
                escaped = true;
            } else if (byte == 0x04) {
                ready = IsGood();
            } else {
                stored.push_back(byte);
            }
        }
    }
    bool Ready() const { return ready; }
    const std::vector<std::uint8_t>& Stored() const { return stored; }
    void Clear() { ready = false; }

private:
    bool IsGood() const {
        if (stored.size() < 3) {
            return false;
        }
        const std::size_t body = stored.size() - 2;
        const auto crc = static_cast<std::uint16_t>(stored[body] | stored[body + 1] << 8);
        return BitwiseCrc16(std::span(stored).first(body)) == crc;
    }

    std::vector<std::uint8_t> stored;
    bool escaped = false;
    bool ready = false;
};

void CheckReportedFrame(const ostrel::FrameDecoder& decoder) {
    const auto frame = decoder.Frame();
    Check(frame.size() >= 3 && frame.size() <= 252, "frame length");
    const std::size_t body = frame.size() - 2;
    const auto crc = static_cast<std::uint16_t>(frame[body] | frame[body + 1] << 8);
    Check(BitwiseCrc16(frame.first(body)) == crc, "frame CRC");
    const auto data = decoder.ReplyData();
    Check(std::ranges::equal(data, frame.subspan(1, body - 1)), "reply data");
}

} // namespace

// The input is a sequence of datagrams, each a length byte (taken modulo 246, so at most the
// 245 bytes one receive accepts) and then as many bytes as remain up to that length.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    ostrel::FrameDecoder decoder;
    ModelDecoder model;
    std::size_t at = 0;
    while (at < input.size()) {
        const std::size_t wanted = input[at++] % (maxDatagram + 1);
        const auto datagram = input.subspan(at, std::min(wanted, input.size() - at));
        at += datagram.size();

        decoder.DecodeBytes(datagram);
        model.Feed(datagram);
        Check(decoder.FrameReady() == model.Ready(), "frame reported as the rules say");
        Check(decoder.Frame().size() <= 253, "stored length");
        if (decoder.FrameReady()) {
            CheckReportedFrame(decoder);
            Check(std::ranges::equal(decoder.Frame(), model.Stored()), "frame as the rules say");
            decoder.ClearFrameReady();
            model.Clear();
        }
    }
    return 0;
}
