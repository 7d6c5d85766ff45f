#include "app/CommandLine.h"
#include "app/qt/UpdaterApp.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <QApplication>
#include <QIcon>

namespace {

// A platform is chosen when the environment or Qt's own -platform argument names one.
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

// Platforms that draw nowhere a person could see.
bool ShowsNothing(const QString& platform) {
    return platform == QStringLiteral("offscreen") || platform == QStringLiteral("minimal");
}

} // namespace

int main(int argc, char** argv) {
    const std::span<char* const> arguments(argv, static_cast<std::size_t>(argc));
    // Taken before QApplication removes the options it knows from argv.
    const std::string tail = ostrel::JoinArguments(arguments);
    const bool automatic = ostrel::ParseCommandLine(tail, 0, [](const std::string&) {}).automatic;
    if (!PlatformChosen(arguments) && !DisplayPresent()) {
        if (!automatic) {
            std::fputs("ostrel: a display is needed: neither DISPLAY nor WAYLAND_DISPLAY is set "
                       "(ostrel -A updates without one)\n",
                       stderr);
            return ostrel::UpdaterApp::exitFailedUnattended;
        }
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ostrel.png")));
    const auto attendance = automatic && ShowsNothing(QGuiApplication::platformName())
                                ? ostrel::Attendance::Nobody
                                : ostrel::Attendance::User;
    return ostrel::UpdaterApp().Run(tail, attendance);
}
