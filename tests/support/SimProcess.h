#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace ostrel::test {

struct SimOptions;
// Options for a simulator on the module port 6234 of a loopback address of its own.
SimOptions SimAt(const std::string& address, std::vector<std::string> args = {});

struct SimOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 0; // 0: the system picks one
    // Further options, as on the command line. The braces let designated initializers leave
    // it out without a missing-initializer warning.
    std::vector<std::string> args{};
    bool log = true;  // --log into the process's own folder
    bool dump = true; // --dump into the process's own folder
};

// A running vexa-sim, started with posix_spawn and stopped by its PID.
class SimProcess {
public:
    // Waits at most 5 s for the "listening" line; throws std::runtime_error when it does not come.
    explicit SimProcess(SimOptions options = {});
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess();

    std::uint16_t Port() const { return port; }
    pid_t Pid() const { return process->Pid(); }
    const std::string& Address() const { return address; }
    std::filesystem::path LogPath() const { return dir.File("sim.log"); }
    std::filesystem::path DumpPath() const { return dir.File("flash.bin"); }

    // SIGTERM, then SIGKILL if it has not ended within 5 s. Returns the exit status (128 + the
    // signal for a process ended by one). Later calls return the same status.
    int Stop();

    std::vector<std::string> LogLines() const;
    // Lines whose kind and command fields are the given ones.
    std::vector<std::string> LogLines(std::string_view kind, std::string_view command) const;
    // Waits until the log holds at least count such lines; false after the time limit.
    bool WaitForLog(std::string_view kind, std::string_view command, std::size_t count = 1,
                    std::chrono::milliseconds limit = std::chrono::seconds(2)) const;
    // The last dump written (empty if none yet); of module K (from 1) of a --modules process.
    std::vector<std::uint8_t> Flash() const;
    std::vector<std::uint8_t> Flash(unsigned module) const;

private:
    TempDir dir;
    std::string address;
    std::uint16_t port = 0;
    std::unique_ptr<ChildProcess> process;
};

struct SimExit {
    int status = -1;    // exit status, 128 + signal, or -1 when it had to be killed
    std::string output; // what it printed on stdout
};

// Runs vexa-sim with the arguments until it ends by itself, at most limit; for options that
// make it exit at once (--help, bad options, a taken port).
SimExit RunSimToExit(const std::vector<std::string>& args,
                     std::chrono::milliseconds limit = std::chrono::seconds(5));

// Path of vexa-sim: $OSTREL_SIM if set, else the one built with the tests.
std::string SimExecutable();

} // namespace ostrel::test
