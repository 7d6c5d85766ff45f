#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ostrel::test {

// The frames of the commands that carry no data, byte for byte, in the hex text of HexBytes: the
// host's encoder, the host's decoder and the simulator's deframer are all checked against them.
inline constexpr const char* eraseFrame = "01 02 42 20 04";       // CRC 0x2042
inline constexpr const char* runFrame = "01 05 A5 50 04";         // CRC 0x50A5
inline constexpr const char* queryFrame = "01 10 01 21 10 10 04"; // command and CRC escaped

// Frames as a test writes and reads them, with code of its own (a bitwise CRC, a plain
// unescape), so that the link's codec is checked against something independent.
std::uint16_t BitwiseCrc16(std::span<const std::uint8_t> data);
std::vector<std::uint8_t> EncodeTestFrame(std::span<const std::uint8_t> payload);
// The payload of one whole datagram SOH..EOT with a good CRC; nothing otherwise.
std::optional<std::vector<std::uint8_t>> DecodeTestFrame(std::span<const std::uint8_t> datagram);
// The records a Program payload carries, split by their length bytes.
std::vector<std::vector<std::uint8_t>> SplitRecords(std::span<const std::uint8_t> programPayload);

} // namespace ostrel::test
