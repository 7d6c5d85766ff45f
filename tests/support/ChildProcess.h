#pragma once

#include "common/UniqueFd.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace ostrel::test {

struct ChildOptions {
    // NAME=value on top of the test's own; a bare NAME takes the variable away.
    std::vector<std::string> environment = {};
    std::string outputPath = {}; // stdout and stderr go there, when given
    std::string errorPath = {};  // then stderr alone goes here, when given too
    bool pipeOutput = false;     // stdout comes back through ReadOutput
};

// A program a test starts and always stops by its PID: it is stopped when the test is done
// with it, unless it has ended by then.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const ChildOptions& options = {});
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t Pid() const { return pid; }
    // The exit status once it has ended within the limit (128 + signal when a signal ended it).
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);
    // What the child used, once it has ended: CPU time and peak memory.
    const std::optional<rusage>& Usage() const { return usage; }
    // Sends a signal, such as Ctrl-C's SIGINT.
    void Signal(int signal);
    // SIGTERM, then SIGKILL after the limit; returns the status. Later calls return it again.
    int Stop(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // What the child wrote through its pipe: one line, or all of it until it closes, within the
    // limit.
    std::string ReadOutput(std::chrono::milliseconds limit, bool wholeStream = false);

private:
    pid_t pid = -1;
    std::optional<int> status;
    std::optional<rusage> usage;
    UniqueFd output;
};

} // namespace ostrel::test
