#include "tests/support/SimProcess.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ostrel::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto startLimit = std::chrono::seconds(5);
constexpr auto stopLimit = std::chrono::seconds(5);
constexpr auto pollStep = std::chrono::milliseconds(5);
constexpr std::string_view listening = "vexa-sim listening on ";

struct Spawned {
    pid_t pid = -1;
    platform::UniqueFd output; // read end of the child's stdout
};

Spawned Spawn(const std::vector<std::string>& args) {
    std::vector<std::string> all{SimExecutable()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    Spawned spawned;
    spawned.output = platform::UniqueFd(pipeFds[0]);
    const platform::UniqueFd writeEnd(pipeFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
    // The child starts with no signal blocked and default handlers, whatever the test runner has.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const int error =
        ::posix_spawn(&spawned.pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        throw std::runtime_error("cannot start " + all[0] + ": " + std::strerror(error));
    }
    return spawned;
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return -1;
}

// The child's status once it has ended within the limit; nothing if it still runs.
std::optional<int> WaitForExit(pid_t pid, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    while (true) {
        int waitStatus = 0;
        const pid_t done = ::waitpid(pid, &waitStatus, WNOHANG);
        if (done == pid) {
            return StatusOf(waitStatus);
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (Clock::now() >= end) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(pollStep);
    }
}

int Kill(pid_t pid) {
    ::kill(pid, SIGKILL);
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    return StatusOf(waitStatus);
}

// Reads from fd until a line end, the end of the stream, or the time limit.
std::string ReadLine(int fd, Clock::duration limit, bool wholeStream = false) {
    const auto end = Clock::now() + limit;
    std::string text;
    while (wholeStream || text.find('\n') == std::string::npos) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char chunk[256];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

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

    Spawned spawned = Spawn(args);
    pid = spawned.pid;
    const std::string line = ReadLine(spawned.output.Get(), startLimit);
    const auto colon = line.rfind(':');
    if (!line.starts_with(listening) || colon == std::string::npos) {
        const auto exited = WaitForExit(pid, std::chrono::milliseconds(100));
        const int ended = exited ? *exited : Kill(pid);
        stopped = true;
        throw std::runtime_error("vexa-sim did not start (status " + std::to_string(ended) +
                                 ", printed \"" + line + "\")");
    }
    port = static_cast<std::uint16_t>(std::stoul(line.substr(colon + 1)));
}

SimProcess::~SimProcess() {
    Stop();
}

int SimProcess::Stop() {
    if (stopped) {
        return status;
    }
    stopped = true;
    ::kill(pid, SIGTERM);
    const auto exited = WaitForExit(pid, stopLimit);
    status = exited ? *exited : Kill(pid);
    return status;
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

SimExit RunSimToExit(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
    Spawned spawned = Spawn(args);
    SimExit result;
    result.output = ReadLine(spawned.output.Get(), limit, true);
    const auto exited = WaitForExit(spawned.pid, std::chrono::milliseconds(500));
    result.status = exited ? *exited : -1;
    if (!exited) {
        Kill(spawned.pid);
    }
    return result;
}

std::string SimExecutable() {
    if (const char* path = std::getenv("OSTREL_SIM"); path != nullptr && *path != '\0') {
        return path;
    }
    return OSTREL_SIM_PATH;
}

} // namespace ostrel::test
