#pragma once

#include <span>

#include <QString>

namespace ostrel::platform {

// Whether a window could be shown: a display is set, or the environment or Qt's own -platform
// argument chose a platform.
bool PlatformChosen(std::span<char* const> argv);
bool DisplayPresent();
// Platforms that draw nowhere a person could see.
bool ShowsNothing(const QString& platform);

} // namespace ostrel::platform
