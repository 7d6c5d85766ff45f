#pragma once

#include "fleet/FleetTargets.h"
#include "fleet/FleetUpdate.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// One row per module of a run: who it is, what it ran before and after, and how it ended.
struct ReportRow {
    std::string address;
    std::string mac;
    std::string name;
    std::string versionBefore;
    std::string versionAfter;
    std::string result;
    int exitCode = 1;
    unsigned tries = 0;
    double seconds = 0;
    std::string error; // for a module that failed: what happened and where it was left
};

// The image every module of the run was given.
struct ReportImage {
    std::string file;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint16_t crc = 0;
    std::string sha256; // of the file, in hexadecimal
};

// The rows of a run: the targets as resolved, in order, with their modules' outcomes.
std::vector<ReportRow> ReportRows(const std::vector<FleetTarget>& targets,
                                  const std::vector<FleetUpdate::Module>& modules);

enum class ReportFormat { Json, Csv };

// By the file's extension: .json or .csv; nothing for any other.
std::optional<ReportFormat> ReportFormatOf(const std::string& path);

// Written beside its place under a temporary name, flushed to disk and then renamed, so that
// the report is either the old file or the whole new one, never half of it.
bool WriteReport(const std::string& path, ReportFormat format, const ReportImage& image,
                 const std::vector<ReportRow>& rows, std::string& error);

// The file's SHA-256 in lower-case hexadecimal; nothing when it cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

} // namespace ostrel
