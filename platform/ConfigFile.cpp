#include "platform/ConfigFile.h"

#include <QCoreApplication>
#include <QDir>

namespace ostrel::platform {

QString ConfigFilePath() {
    QString directory = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (directory.isEmpty()) {
        directory = QDir::homePath() + QStringLiteral("/.config");
    }
    return directory + QLatin1Char('/') + QCoreApplication::applicationName() +
           QStringLiteral(".ini");
}

} // namespace ostrel::platform
