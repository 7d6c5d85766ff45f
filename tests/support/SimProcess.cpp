#include "tests/support/SimProcess.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ostrel::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto startLimit = std::chrono::seconds(5);
constexpr auto stopLimit = std::chrono::seconds(5);
constexpr auto pollStep = std::chrono::milliseconds(5);
constexpr std::string_view listening = "vexa-sim listening on ";

std::vector<std::string> Fields(const std::string& line) {
    std::istringstream stream(line);
    return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

} // namespace

SimProcess::SimProcess(SimOptions options) : address(options.address) {
    // A test that crashes leaves no simulator behind.
    std::vector<std::string> args{"--stop-with-parent", "--address", options.address, "--port",
                                  std::to_string(options.port)};
    if (options.log) {
        args.insert(args.end(), {"--log", LogPath().string()});
    }
    if (options.dump) {
        args.insert(args.end(), {"--dump", DumpPath().string()});
    }
    args.insert(args.end(), options.args.begin(), options.args.end());

    process =
        std::make_unique<ChildProcess>(SimExecutable(), args, ChildOptions{.pipeOutput = true});
    const std::string line = process->ReadOutput(startLimit);
    const auto colon = line.rfind(':');
    if (!line.starts_with(listening) || colon == std::string::npos) {
        const auto exited = process->WaitForExit(std::chrono::milliseconds(100));
        const int ended = exited ? *exited : process->Stop(std::chrono::milliseconds(0));
        throw std::runtime_error("vexa-sim did not start (status " + std::to_string(ended) +
                                 ", printed \"" + line + "\")");
    }
    port = static_cast<std::uint16_t>(std::stoul(line.substr(colon + 1)));
}

SimProcess::~SimProcess() = default;

int SimProcess::Stop() {
    return process->Stop(stopLimit);
}

std::vector<std::string> SimProcess::LogLines() const {
    std::vector<std::string> lines;
    std::ifstream file(LogPath());
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> SimProcess::LogLines(std::string_view kind,
                                              std::string_view command) const {
    std::vector<std::string> matching;
    for (auto& line : LogLines()) {
        const auto fields = Fields(line);
        if (fields.size() > 4 && fields[3] == kind && fields[4] == command) {
            matching.push_back(std::move(line));
        }
    }
    return matching;
}

bool SimProcess::WaitForLog(std::string_view kind, std::string_view command, std::size_t count,
                            std::chrono::milliseconds limit) const {
    const auto end = Clock::now() + limit;
    while (LogLines(kind, command).size() < count) {
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(pollStep);
    }
    return true;
}

std::vector<std::uint8_t> SimProcess::Flash() const {
    std::ifstream file(DumpPath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> SimProcess::Flash(unsigned module) const {
    std::ifstream file(DumpPath().string() + "." + std::to_string(module), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

SimExit RunSimToExit(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
    ChildProcess process(SimExecutable(), args, {.pipeOutput = true});
    SimExit result;
    result.output = process.ReadOutput(limit, true);
    const auto exited = process.WaitForExit(std::chrono::milliseconds(500));
    result.status = exited ? *exited : -1;
    return result;
}

SimOptions SimAt(const std::string& address, std::vector<std::string> args) {
    SimOptions options;
    options.address = address;
    options.port = 6234;
    options.args = std::move(args);
    return options;
}

std::string SimExecutable() {
    if (const char* path = std::getenv("OSTREL_SIM"); path != nullptr && *path != '\0') {
        return path;
    }
    return OSTREL_SIM_PATH;
}

} // namespace ostrel::test
