#pragma once

#include "app/qt/MainDialog.h"

#include <string>

namespace ostrel {

// Runs the program: the main dialog, modally, with the command line's tail, and turns how it
// ended into the exit code: 0 after a successful update, -1 after Done, 1 after an automatic
// update that failed where nobody could answer.
class UpdaterApp {
public:
    static constexpr int exitAfterUpdate = 0;
    static constexpr int exitAfterDone = -1;
    static constexpr int exitFailedUnattended = 1;

    int Run(const std::string& commandLineTail, Attendance attendance = Attendance::User);
};

} // namespace ostrel
