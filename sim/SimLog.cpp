#include "sim/SimLog.h"

#include <cstdio>

namespace ostrel::sim {

std::string FormatLogLine(std::chrono::nanoseconds sinceStart, const LogEntry& entry) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(sinceStart).count();
    char time[32];
    std::snprintf(time, sizeof time, "%lld.%06lld", static_cast<long long>(micros / 1000000),
                  static_cast<long long>(micros % 1000000));
    std::string line = time;
    line += ' ';
    line += entry.source;
    line += ' ';
    line += entry.destination;
    line += ' ';
    line += entry.kind;
    line += ' ';
    line += entry.command;
    line += ' ';
    line += entry.action;
    line += " bytes=" + std::to_string(entry.bytes);
    line += entry.details;
    return line;
}

bool SimLog::Open(const std::string& path) {
    file.open(path, std::ios::out | std::ios::trunc);
    return file.is_open();
}

void SimLog::Write(const LogEntry& entry) {
    if (!file.is_open()) {
        return;
    }
    file << FormatLogLine(std::chrono::steady_clock::now() - start, entry) << '\n' << std::flush;
}

} // namespace ostrel::sim
