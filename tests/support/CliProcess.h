#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {

// What a run of ostrel-cli left: its status and both streams.
struct CliRun {
    std::optional<int> status; // nothing: it did not end in time (and was stopped)
    std::string out;
    std::string err;

    // Standard output as JSON lines; throws on a line that is not JSON.
    std::vector<nlohmann::json> JsonLines() const;
    // The last end event: an update's is followed by the run's summary.
    nlohmann::json End() const;
};

// The built ostrel-cli, as scripts run it, its streams into files of the test's folder.
class CliLauncher {
public:
    CliLauncher(std::string path, const TempDir& folder) : program(std::move(path)), dir(folder) {}

    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args) const;
    CliRun Run(const std::vector<std::string>& args,
               std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    std::string Out() const;
    std::string Err() const;

private:
    std::string program;
    const TempDir& dir;
};

} // namespace ostrel::test
