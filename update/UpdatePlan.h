#pragma once

#include "image/HexImage.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel {

// What an update of a HEX file would send and verify, worked out without a network by the same
// reader, image build and frame builder that an update uses.
struct UpdatePlan {
    struct Warning {
        enum class Kind {
            BuildEndsEarly,       // a line that is no record ends the image before the last record
            BootRegion,           // records in the boot region: sent, not verified
            OutsideProgramMemory, // records beside 0x9D000000..0x9D4FFFFF: sent, not verified
            BadChecksum,          // records whose checksum does not match: sent as they stand
            NothingToVerify,      // no data in the program memory
        };
        Kind kind;
        std::uint32_t count = 0; // records (1 for a line)
        std::uint32_t line = 0;  // the first one, counted from 1
        std::string text;        // for a user
    };

    bool readable = false;
    std::uint32_t lines = 0;       // as the update counts them for its progress
    std::uint32_t recordLines = 0; // lines that begin with ':'
    std::array<std::uint32_t, 256> recordsByType{};
    std::uint64_t dataBytes = 0;  // in data records, as their lines hold them
    HexImage::BuildResult verify; // what Verify sends: start, length, CRC-16
    std::uint32_t programFrames = 0;
    std::size_t largestFrame = 0; // bytes of the largest Program frame on the wire
    std::vector<Warning> warnings;

    // An update of this file could program something and verify it. A file whose records leave
    // nothing in the program memory would only erase a module.
    bool Programmable() const { return programFrames > 0 && verify.length > 0; }
};

UpdatePlan PlanUpdate(const std::string& path);

} // namespace ostrel
