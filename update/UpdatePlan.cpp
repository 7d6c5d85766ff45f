#include "update/UpdatePlan.h"

#include "bootlink/FrameBuilder.h"
#include "common/HexText.h"

#include <numeric>

namespace ostrel {

namespace {

// Lines that end the image build where program frames still find records.
struct BuildStops {
    std::uint32_t firstOtherLine = 0; // not a record
    std::uint32_t firstLongLine = 0;  // a record too long for one read of the build
};

// The records of the file as program frames read them: their types, data and checksums.
BuildStops CountRecords(HexImage& image, UpdatePlan& plan) {
    BuildStops stops;
    std::array<std::uint8_t, HexImage::MaxDecodedBytes(HexImage::frameReadLimit)> record{};
    UpdatePlan::Warning checksums{UpdatePlan::Warning::Kind::BadChecksum, 0, 0, {}};
    image.Rewind();
    for (std::uint32_t line = 1; !image.AtEnd(); ++line) {
        const std::uint16_t decoded = image.ReadRecord(record, HexImage::frameReadLimit);
        if (decoded == 0) {
            if (stops.firstOtherLine == 0 && !image.AtEnd()) {
                stops.firstOtherLine = line;
            }
            continue;
        }
        ++plan.recordLines;
        if (decoded > HexImage::MaxDecodedBytes(HexImage::buildReadLimit) &&
            stops.firstLongLine == 0) {
            stops.firstLongLine = line;
        }
        if (decoded < 4) {
            continue;
        }
        ++plan.recordsByType[record[3]];
        if (record[3] == 0) {
            plan.dataBytes += std::min<std::size_t>(record[0], decoded - 4u);
        }
        // The checksum makes all n + 5 bytes sum to 0 modulo 256.
        const bool whole = decoded == record[0] + 5u;
        const auto sum = std::accumulate(record.begin(), record.begin() + decoded, 0u);
        if (!whole || (sum & 0xFFu) != 0) {
            if (checksums.count++ == 0) {
                checksums.line = line;
            }
        }
    }
    if (checksums.count > 0) {
        checksums.text = std::to_string(checksums.count) +
                         " record(s) with a checksum that does not match, the first on line " +
                         std::to_string(checksums.line) + ": they are sent as they stand";
        plan.warnings.push_back(checksums);
    }
    return stops;
}

void CountFrames(HexImage& image, UpdatePlan& plan) {
    FrameBuilder frames;
    for (bool restart = true; frames.Build(BootCommand::Program, image, restart); restart = false) {
        ++plan.programFrames;
        plan.largestFrame = std::max(plan.largestFrame, frames.Frame().size());
    }
}

void WarnAboutTheBuild(const HexImage::BuildReport& report, const BuildStops& stops,
                       UpdatePlan& plan) {
    using Kind = UpdatePlan::Warning::Kind;
    if (report.recordLines < plan.recordLines) {
        const bool longLine = stops.firstLongLine != 0 && stops.firstLongLine <= report.recordLines;
        const std::uint32_t line = longLine ? stops.firstLongLine : stops.firstOtherLine;
        const std::string why = longLine ? " is longer than 253 characters" : " is not a record";
        plan.warnings.push_back({Kind::BuildEndsEarly, 1, line,
                                 "line " + std::to_string(line) + why +
                                     ": the image for Verify ends there, and the records after "
                                     "it are sent but not verified"});
    }
    if (report.bootRegionRecords > 0) {
        plan.warnings.push_back(
            {Kind::BootRegion, report.bootRegionRecords, report.firstBootRegionLine,
             std::to_string(report.bootRegionRecords) + " data record(s) in the boot region from " +
                 HexText(HexImage::exclusionLimit, 8) + ", the first on line " +
                 std::to_string(report.firstBootRegionLine) + ": they are sent but not verified"});
    }
    if (report.outsideRecords > 0) {
        plan.warnings.push_back(
            {Kind::OutsideProgramMemory, report.outsideRecords, report.firstOutsideLine,
             std::to_string(report.outsideRecords) + " data record(s) outside the program memory " +
                 HexText(HexImage::imageBase, 8) + ".." +
                 HexText(HexImage::imageBase + HexImage::imageSize - 1, 8) +
                 ", the first on line " + std::to_string(report.firstOutsideLine) +
                 ": they are sent but not verified"});
    }
    if (plan.verify.length == 0) {
        plan.warnings.push_back({Kind::NothingToVerify, 0, 0,
                                 "no data lands in the program memory: there is nothing to "
                                 "verify"});
    }
}

} // namespace

UpdatePlan PlanUpdate(const std::string& path) {
    UpdatePlan plan;
    HexImage image;
    if (!image.Open(path)) {
        return plan;
    }
    plan.readable = true;
    plan.lines = image.LineCount();
    HexImage::BuildReport report;
    plan.verify = image.Build(&report);
    const BuildStops stops = CountRecords(image, plan);
    CountFrames(image, plan);
    WarnAboutTheBuild(report, stops, plan);
    return plan;
}

} // namespace ostrel
