#include "bootlink/FrameBuilder.h"

#include "image/Crc16.h"

#include <algorithm>

namespace ostrel {

namespace {

bool NeedsEscape(std::uint8_t byte) {
    return byte == SOH || byte == EOT || byte == DLE;
}

constexpr std::size_t crcSize = 2;
constexpr std::size_t verifyPayloadSize = 11;

// A frame always has room for its first record, however long its line, even fully escaped.
constexpr std::size_t longestRecord = HexImage::MaxDecodedBytes(HexImage::frameReadLimit);
static_assert(1 + longestRecord + crcSize <= FrameBuilder::bufferSize);
static_assert(1 + 2 * (1 + longestRecord + crcSize) + 1 <= FrameBuilder::bufferSize);

void PutLittleEndian32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace

void FrameBuilder::Append(std::span<const std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(),
              payload.begin() + static_cast<std::ptrdiff_t>(payloadLength));
    payloadLength += bytes.size();
    payloadEscapes +=
        static_cast<std::size_t>(std::count_if(bytes.begin(), bytes.end(), NeedsEscape));
}

bool FrameBuilder::Fits(std::span<const std::uint8_t> record) const {
    const std::size_t length = payloadLength + record.size();
    const std::size_t escapes =
        payloadEscapes +
        static_cast<std::size_t>(std::count_if(record.begin(), record.end(), NeedsEscape));
    // SOH, the payload, a CRC that may need two escapes, EOT.
    const std::size_t frameLength = 1 + length + escapes + 2 * crcSize + 1;
    return length + crcSize <= bufferSize && frameLength <= bufferSize;
}

bool FrameBuilder::BuildProgramPayload(HexImage& image, bool restartProgram) {
    if (restartProgram) {
        heldRecord.clear();
        if (!image.Rewind()) {
            return false;
        }
    }
    std::array<std::uint8_t, HexImage::MaxDecodedBytes(HexImage::frameReadLimit)> record{};
    for (int read = 0; read < recordsPerFrame; ++read) {
        std::span<const std::uint8_t> next;
        if (read == 0 && !heldRecord.empty()) {
            next = heldRecord;
        } else {
            next = std::span(record).first(image.ReadRecord(record, HexImage::frameReadLimit));
        }
        if (read == 0 && next.empty()) {
            return false; // no further record: the program sequence is over
        }
        if (!Fits(next)) {
            heldRecord.assign(next.begin(), next.end());
            return true;
        }
        Append(next);
        if (read == 0) {
            heldRecord.clear();
        }
    }
    return true;
}

bool FrameBuilder::Build(BootCommand command, HexImage& image, bool restartProgram,
                         const std::optional<HexImage::BuildResult>& knownRange) {
    txLength = 0;
    payloadLength = 0;
    payloadEscapes = 0;
    const auto code = static_cast<std::uint8_t>(command);
    Append(std::span(&code, 1));
    switch (command) {
    case BootCommand::Query:
    case BootCommand::Erase:
    case BootCommand::Run:
        break;
    case BootCommand::Program:
        if (!BuildProgramPayload(image, restartProgram)) {
            return false;
        }
        break;
    case BootCommand::Verify: {
        const HexImage::BuildResult range = knownRange ? *knownRange : image.Build();
        std::array<std::uint8_t, verifyPayloadSize - 1> fields{};
        PutLittleEndian32(fields.data(), range.start);
        PutLittleEndian32(fields.data() + 4, range.length);
        fields[8] = static_cast<std::uint8_t>(range.crc & 0xFF);
        fields[9] = static_cast<std::uint8_t>(range.crc >> 8);
        Append(fields);
        break;
    }
    default:
        return false;
    }
    Encode();
    return true;
}

void FrameBuilder::Use(std::span<const std::uint8_t> frame) {
    const std::size_t length = std::min(frame.size(), txFrame.size());
    std::copy_n(frame.begin(), length, txFrame.begin());
    txLength = static_cast<std::uint16_t>(length);
}

void FrameBuilder::Encode() {
    const std::uint16_t crc = Crc16(std::span(payload.data(), payloadLength));
    payload[payloadLength++] = static_cast<std::uint8_t>(crc & 0xFF);
    payload[payloadLength++] = static_cast<std::uint8_t>(crc >> 8);
    std::size_t length = 0;
    txFrame[length++] = SOH;
    for (std::size_t i = 0; i < payloadLength; ++i) {
        if (NeedsEscape(payload[i])) {
            txFrame[length++] = DLE;
        }
        txFrame[length++] = payload[i];
    }
    txFrame[length++] = EOT;
    txLength = static_cast<std::uint16_t>(length);
}

} // namespace ostrel
