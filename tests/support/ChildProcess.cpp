#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ostrel::test {

namespace {

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return -1;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ChildOptions& options) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        env.emplace_back(*entry);
    }
    for (const std::string& extra : options.environment) {
        const bool unset = extra.find('=') == std::string::npos;
        const std::string name = unset ? extra + '=' : extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.starts_with(name); });
        if (!unset) {
            env.push_back(extra);
        }
    }
    std::vector<char*> envp;
    for (auto& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    UniqueFd writeEnd;
    if (options.pipeOutput) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        output = UniqueFd(ends[0]);
        writeEnd = UniqueFd(ends[1]);
        posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
    } else if (!options.outputPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    if (!options.errorPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errorPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
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
    const int error = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
    }
}

ChildProcess::~ChildProcess() {
    Stop(std::chrono::milliseconds(2000));
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
    if (status) {
        return status;
    }
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
        int waitStatus = 0;
        rusage used{};
        const pid_t done = ::wait4(pid, &waitStatus, WNOHANG, &used);
        if (done == pid) {
            status = StatusOf(waitStatus);
            usage = used;
            return status;
        }
        if (done < 0 && errno != EINTR) {
            status = -1;
            return status;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::Signal(int signal) {
    if (!status) {
        ::kill(pid, signal);
    }
}

int ChildProcess::Stop(std::chrono::milliseconds limit) {
    if (status) {
        return *status;
    }
    ::kill(pid, SIGTERM);
    if (WaitForExit(limit)) {
        return *status;
    }
    ::kill(pid, SIGKILL);
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    status = StatusOf(waitStatus);
    return *status;
}

std::string ChildProcess::ReadOutput(std::chrono::milliseconds limit, bool wholeStream) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string text;
    while (output.IsValid() && (wholeStream || text.find('\n') == std::string::npos)) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd entry{output.Get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char chunk[256];
        const ssize_t got = ::read(output.Get(), chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

} // namespace ostrel::test
