#include "app/CommandLine.h"
#include "app/qt/UpdaterApp.h"
#include "common/Version.h"
#include "platform/DisplayPresence.h"
#include "platform/EnvironmentTrace.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <QApplication>
#include <QIcon>

namespace {

// --version and --help hold none of the letters the options take (-A, -F, -I), so they mean
// nothing to the command line and can be answered before anything starts.
bool Asked(std::span<char* const> argv, std::string_view option) {
    return std::ranges::any_of(argv.subspan(std::min<std::size_t>(1, argv.size())),
                               [&](const char* arg) { return arg != nullptr && arg == option; });
}

} // namespace

int main(int argc, char** argv) {
    const std::span<char* const> arguments(argv, static_cast<std::size_t>(argc));
    if (Asked(arguments, "--version")) {
        std::printf("ostrel %s\n", ostrel::programVersion);
        return 0;
    }
    if (Asked(arguments, "--help")) {
        std::fputs("Usage: ostrel [-A] [-F<file.hex>] [-I<address>]\n"
                   "Updates, finds and sets up Vexa network I/O modules, in a window.\n"
                   "  -A            update at once; exit code 0 on success\n"
                   "  -F<file.hex>  the HEX file (also remembered as the last one)\n"
                   "  -I<address>   the module's address for this run\n"
                   "See ostrel(1); for scripts without a display, ostrel-cli(1).\n",
                   stdout);
        return 0;
    }
    // Taken before QApplication removes the options it knows from argv.
    const std::string tail = ostrel::JoinArguments(arguments);
    const bool automatic = ostrel::ParseCommandLine(tail, 0, [](const std::string&) {}).automatic;
    if (!ostrel::platform::PlatformChosen(arguments) && !ostrel::platform::DisplayPresent()) {
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
    const auto attendance =
        automatic && ostrel::platform::ShowsNothing(QGuiApplication::platformName())
            ? ostrel::Attendance::Nobody
            : ostrel::Attendance::User;
    const ostrel::platform::EnvironmentTrace trace("ostrel",
                                                   attendance == ostrel::Attendance::User);
    return ostrel::UpdaterApp().Run(tail, attendance);
}
