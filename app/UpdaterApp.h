#pragma once

#include <string>

namespace ostrel {

// Runs the program: the main dialog, modally, with the command line's tail, and turns how it
// ended into the exit code: 0 after a successful update, -1 after Done.
class UpdaterApp {
public:
    static constexpr int exitAfterUpdate = 0;
    static constexpr int exitAfterDone = -1;

    int Run(const std::string& commandLineTail);
};

} // namespace ostrel
