#pragma once

#include "app/AddressText.h"
#include "common/MessageSink.h"

#include <string>

#include <QString>
#include <QVariant>

namespace ostrel {

// The two values the program keeps between runs, in an INI file, section "SETTINGS". Every
// read opens the file afresh and every write goes to disk at once; nothing is cached.
class SettingsStore {
public:
    static constexpr const char* defaultAddressText = "192.168.2.242";
    static constexpr const char* defaultPath = "C:\\";

    SettingsStore(QString filePath, MessageSink& messages);

    // $XDG_CONFIG_HOME/<program name>.ini, with ~/.config when the variable is unset.
    static QString DefaultFilePath();

    std::string ReadAddressText() const;
    void WriteAddressText(const std::string& text) const;
    void StoreAddress(DeviceAddress address) const;
    DeviceAddress ReadStoredAddress() const; // 0 when the stored text is malformed
    // A path is bytes, as the system's file names are.
    std::string ReadStoredPath() const;
    void StorePath(const std::string& path) const;

    const QString& FilePath() const { return filePath; }

private:
    std::string ReadValue(const char* key, const char* fallback) const;
    void WriteValue(const char* key, const QVariant& value) const;

    QString filePath;
    MessageSink& messages;
};

} // namespace ostrel
