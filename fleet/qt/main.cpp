// ostrel-fleet: every module of the plant in one table, many updated at once.
#include "common/DottedAddress.h"
#include "common/Version.h"
#include "fleet/FleetTargets.h"
#include "fleet/qt/FleetWindow.h"
#include "platform/MessageBox.h"

#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>

namespace {

// Notices of reading a targets file, on standard error before there is a window.
class StandardErrorNotices final : public ostrel::Notices {
public:
    void Notice(Level, const std::string& text) override {
        std::fprintf(stderr, "ostrel-fleet: %s\n", text.c_str());
    }
};

std::string SettingsPath() {
    QString directory = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (directory.isEmpty()) {
        directory = QDir::homePath() + QStringLiteral("/.config");
    }
    return (directory + QStringLiteral("/ostrel-fleet.ini")).toStdString();
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ostrel-fleet"));
    QApplication::setApplicationVersion(QString::fromLatin1(ostrel::programVersion));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ostrel.png")));
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
    start.scan = !parser.isSet(noScan);
    start.settingsPath = SettingsPath();
    StandardErrorNotices notices;
    std::string error;
    for (const QString& text : parser.values(ip)) {
        const auto address = ostrel::ParseModuleAddress(text.toStdString(), error);
        if (!address) {
            notices.Error(error);
            return 2;
        }
        start.addresses.push_back(*address);
    }
    std::vector<ostrel::TargetName> named;
    if (parser.isSet(targets) &&
        !ostrel::ReadTargetsFile(parser.value(targets).toStdString(), named, notices)) {
        return 2;
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
    start.scan = start.scan && start.addresses.empty() && !parser.isSet(targets);
    ostrel::platform::MessageBox messages;
    ostrel::FleetWindow window(start, messages);
    window.resize(1100, 500);
    window.show();
    return QApplication::exec();
}
