#pragma once

#include "net/WireTrace.h"

#include <memory>
#include <optional>
#include <string>

namespace ostrel::platform {

// The wire trace OSTREL_TRACE asks a window for, made the process's own while this lives.
// A trace that cannot be created is said once, in a message box where a window can be seen
// and on standard error where none can; the window then goes on without one.
class EnvironmentTrace {
public:
    EnvironmentTrace(const std::string& program, bool windowsSeen);

private:
    std::unique_ptr<WireTrace> trace;
    std::optional<WireTraceScope> scope;
};

} // namespace ostrel::platform
