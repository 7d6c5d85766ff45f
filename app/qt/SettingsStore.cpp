#include "app/qt/SettingsStore.h"

#include "platform/ConfigFile.h"
#include "platform/PathText.h"

#include <QSettings>
#include <QStandardPaths>

namespace ostrel {

namespace {

constexpr const char* addressKey = "SETTINGS/Vexa_IP";
constexpr const char* pathKey = "SETTINGS/PATH";

} // namespace

SettingsStore::SettingsStore(QString path, MessageSink& sink)
    : filePath(std::move(path)), messages(sink) {}

QString SettingsStore::DefaultFilePath() {
    return platform::ConfigFilePath();
}

std::string SettingsStore::ReadValue(const char* key, const char* fallback) const {
    const QSettings settings(filePath, QSettings::IniFormat);
    return settings.value(QLatin1String(key), QString::fromLatin1(fallback))
        .toString()
        .toStdString();
}

void SettingsStore::WriteValue(const char* key, const QVariant& value) const {
    QSettings settings(filePath, QSettings::IniFormat);
    settings.setValue(QLatin1String(key), value);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        messages.Say("Error saving to registry");
    }
}

std::string SettingsStore::ReadAddressText() const {
    return ReadValue(addressKey, defaultAddressText);
}

void SettingsStore::WriteAddressText(const std::string& text) const {
    WriteValue(addressKey, QString::fromStdString(text));
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
    const QSettings settings(filePath, QSettings::IniFormat);
    const QVariant value = settings.value(QLatin1String(pathKey), QString::fromLatin1(defaultPath));
    if (value.typeId() == QMetaType::QByteArray) {
        return value.toByteArray().toStdString();
    }
    return value.toString().toStdString();
}

void SettingsStore::StorePath(const std::string& path) const {
    if (platform::IsValidUtf8(path)) {
        WriteValue(pathKey, QString::fromStdString(path));
    } else {
        // A name that is not UTF-8 keeps its bytes as the settings' own byte-array form; as
        // text it would come back with its odd bytes replaced.
        WriteValue(pathKey, QByteArray::fromStdString(path));
    }
}

} // namespace ostrel
