#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ostrel::test {

// A program a test starts and always stops by its PID: it is killed when the test is done
// with it, unless it has ended by then.
class ChildProcess {
public:
    // environment: extra NAME=value entries on top of the test's own environment.
    // outputPath: where stdout and stderr go (nothing when empty).
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment = {},
                 const std::string& outputPath = {});
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t Pid() const { return pid; }
    // The exit status once it has ended within the limit (128 + signal when a signal ended it).
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);
    // SIGTERM, then SIGKILL after the limit; returns the status. Later calls return it again.
    int Stop(std::chrono::milliseconds limit = std::chrono::seconds(5));

private:
    pid_t pid = -1;
    std::optional<int> status;
};

} // namespace ostrel::test
