#pragma once

#include "update/UpdateOptions.h"
#include "update/UpdatePlan.h"

#include <string>

namespace ostrel {

// What to do to each module of a run.
struct UpdateJob {
    std::string file;
    UpdatePlan plan; // of the file, made before any module is woken
    UpdateOptions options;
    bool confirm = true; // wait for the application after Run
};

} // namespace ostrel
