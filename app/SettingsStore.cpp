#include "app/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace ostrel {

namespace {

constexpr const char* addressKey = "SETTINGS/Vexa_IP";
constexpr const char* pathKey = "SETTINGS/PATH";

} // namespace

SettingsStore::SettingsStore(QString path, platform::MessageSink& sink)
    : filePath(std::move(path)), messages(sink) {}

QString SettingsStore::DefaultFilePath() {
    QString directory = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (directory.isEmpty()) {
        directory = QDir::homePath() + QStringLiteral("/.config");
    }
    return directory + QLatin1Char('/') + QCoreApplication::applicationName() +
           QStringLiteral(".ini");
}

std::string SettingsStore::ReadValue(const char* key, const char* fallback) const {
    const QSettings settings(filePath, QSettings::IniFormat);
    return settings.value(QLatin1String(key), QString::fromLatin1(fallback))
        .toString()
        .toStdString();
}

void SettingsStore::WriteValue(const char* key, const std::string& value) const {
    QSettings settings(filePath, QSettings::IniFormat);
    settings.setValue(QLatin1String(key), QString::fromStdString(value));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        messages.Show({"Error saving to registry", {}, platform::MessageIcon::None});
    }
}

std::string SettingsStore::ReadAddressText() const {
    return ReadValue(addressKey, defaultAddressText);
}

void SettingsStore::WriteAddressText(const std::string& text) const {
    WriteValue(addressKey, text);
}

void SettingsStore::StoreAddress(DeviceAddress address) const {
    WriteAddressText(FormatDottedQuad(address));
}

DeviceAddress SettingsStore::ReadStoredAddress() const {
    DeviceAddress address = 0;
    ParseDottedQuad(ReadAddressText(), address);
    return address;
}

std::string SettingsStore::ReadStoredPath() const {
    return ReadValue(pathKey, defaultPath);
}

void SettingsStore::StorePath(const std::string& path) const {
    WriteValue(pathKey, path);
}

} // namespace ostrel
