#include "platform/DisplayPresence.h"

#include <cstdlib>
#include <string_view>

namespace ostrel::platform {

bool PlatformChosen(std::span<char* const> argv) {
    for (const char* arg : argv) {
        if (arg != nullptr && std::string_view(arg) == "-platform") {
            return true;
        }
    }
    return std::getenv("QT_QPA_PLATFORM") != nullptr;
}

bool DisplayPresent() {
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

bool ShowsNothing(const QString& platform) {
    return platform == QStringLiteral("offscreen") || platform == QStringLiteral("minimal");
}

} // namespace ostrel::platform
