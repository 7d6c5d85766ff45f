#pragma once

#include <span>

namespace ostrel::platform {

// Whether a window could be shown: a display is set, or the environment or Qt's own -platform
// argument chose a platform.
bool PlatformChosen(std::span<char* const> argv);
bool DisplayPresent();

} // namespace ostrel::platform
