// ostrel-fleet: every module of the plant in one table, many updated at once.
#include "common/DottedAddress.h"
#include "common/Version.h"
#include "fleet/FleetTargets.h"
#include "fleet/qt/FleetWindow.h"
#include "platform/ConfigFile.h"
#include "platform/DisplayPresence.h"
#include "platform/EnvironmentTrace.h"
#include "platform/MessageBox.h"

#include <cstdio>
#include <optional>
#include <span>

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

namespace {

// Notices of reading a targets file, on standard error before there is a window.
class StandardErrorNotices final : public ostrel::Notices {
public:
    void Notice(Level, const std::string& text) override {
        std::fprintf(stderr, "ostrel-fleet: %s\n", text.c_str());
    }
};

// The window's start as the command line asks for it; nullopt, said on standard error, for
// arguments it cannot take. --help and --version end the program here.
std::optional<ostrel::FleetWindowStart> StartFromArguments(const QCoreApplication& application) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Every Vexa module of the plant in one table, many updated at once."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption noScan(QStringLiteral("no-scan"),
                                    QStringLiteral("start without a discovery"));
    const QCommandLineOption targets(
        QStringLiteral("targets"),
        QStringLiteral("read the modules of a file, one address a line, "
                       "by unicast alone (no broadcast)"),
        QStringLiteral("FILE"));
    const QCommandLineOption ip(QStringLiteral("ip"),
                                QStringLiteral("read this module by unicast (repeatable)"),
                                QStringLiteral("A"));
    parser.addOptions({noScan, targets, ip});
    parser.process(application);

    ostrel::FleetWindowStart start;
    // Beside the window's settings, named after this program.
    start.settingsPath = ostrel::platform::ConfigFilePath().toStdString();
    StandardErrorNotices notices;
    std::string error;
    for (const QString& text : parser.values(ip)) {
        const auto address = ostrel::ParseModuleAddress(text.toStdString(), error);
        if (!address) {
            notices.Error(error);
            return std::nullopt;
        }
        start.addresses.push_back(*address);
    }
    std::vector<ostrel::TargetName> named;
    if (parser.isSet(targets) &&
        !ostrel::ReadTargetsFile(parser.value(targets).toStdString(), named, notices)) {
        return std::nullopt;
    }
    for (const ostrel::TargetName& name : named) {
        if (name.address) {
            start.addresses.push_back(*name.address);
        } else {
            notices.Warn("a MAC needs a scan; it is left out: " +
                         parser.value(targets).toStdString());
        }
    }
    // Modules named are read by unicast: nothing is broadcast from a machine they are on.
    start.scan = !parser.isSet(noScan) && start.addresses.empty() && !parser.isSet(targets);
    return start;
}

void Describe() {
    QCoreApplication::setApplicationName(QStringLiteral("ostrel-fleet"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ostrel::programVersion));
}

} // namespace

int main(int argc, char** argv) {
    const std::span<char* const> arguments(argv, static_cast<std::size_t>(argc));
    if (!ostrel::platform::PlatformChosen(arguments) && !ostrel::platform::DisplayPresent()) {
        // Without a display only --help, --version and bad arguments can be answered.
        QCoreApplication console(argc, argv);
        Describe();
        if (!StartFromArguments(console)) {
            return 2;
        }
        std::fputs("ostrel-fleet: a display is needed: neither DISPLAY nor WAYLAND_DISPLAY is "
                   "set (ostrel-cli updates fleets without one)\n",
                   stderr);
        return 1;
    }
    QApplication application(argc, argv);
    Describe();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ostrel.png")));
    const auto start = StartFromArguments(application);
    if (!start) {
        return 2;
    }
    const ostrel::platform::EnvironmentTrace trace(
        "ostrel-fleet", !ostrel::platform::ShowsNothing(QGuiApplication::platformName()));
    ostrel::platform::MessageBox messages;
    ostrel::FleetWindow window(*start, messages);
    window.resize(1100, 500);
    window.show();
    return QApplication::exec();
}
