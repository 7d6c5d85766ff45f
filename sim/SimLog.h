#pragma once

#include <chrono>
#include <cstddef>
#include <fstream>
#include <string>
#include <string_view>

namespace ostrel::sim {

struct LogEntry {
    std::string source;      // ip:port
    std::string destination; // the datagram's destination address
    std::string_view kind;   // wake, boot, app, other
    std::string_view command;
    std::string_view action; // answered, dropped, ignored, done
    std::size_t bytes = 0;
    std::string details; // " key=value" pairs
};

// "<t> <src> <dst> <kind> <command> <action> bytes=N<details>", t in seconds with 6 decimals.
std::string FormatLogLine(std::chrono::nanoseconds sinceStart, const LogEntry& entry);

// One line per received datagram, flushed at once so that a test can read it while the
// simulator runs. Writes nothing when no file was opened.
class SimLog {
public:
    explicit SimLog(std::chrono::steady_clock::time_point origin) : start(origin) {}

    bool Open(const std::string& path);
    void Write(const LogEntry& entry);

private:
    std::chrono::steady_clock::time_point start;
    std::ofstream file;
};

} // namespace ostrel::sim
