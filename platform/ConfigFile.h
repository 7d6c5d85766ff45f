#pragma once

#include <QString>

namespace ostrel::platform {

// The program's settings file: <application name>.ini in $XDG_CONFIG_HOME (~/.config when
// unset).
QString ConfigFilePath();

} // namespace ostrel::platform
