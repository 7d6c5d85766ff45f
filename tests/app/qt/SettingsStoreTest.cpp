#include "app/qt/SettingsStore.h"

#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QString IniPath() const { return QString::fromStdString(dir.File("ostrel.ini").string()); }
    SettingsStore Store() { return SettingsStore(IniPath(), messages); }
    std::string FileText() const {
        std::ifstream in(dir.File("ostrel.ini"));
        return {std::istreambuf_iterator<char>(in), {}};
    }

    test::TempDir dir;
    test::MessageRecorder messages;
};

TEST_F(SettingsStoreTest, MissingFileGivesDefaults) {
    const SettingsStore store = Store();
    EXPECT_EQ(store.ReadAddressText(), "192.168.2.242");
    EXPECT_EQ(store.ReadStoredAddress(), 0xC0A802F2u);
    EXPECT_EQ(store.ReadStoredPath(), "C:\\");
    EXPECT_FALSE(QFile::exists(IniPath())) << "reading creates no file";
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(SettingsStoreTest, ValuesRoundTripAndLandInSectionSettings) {
    const SettingsStore store = Store();
    store.StoreAddress(0x0A010203);
    store.StorePath("/home/user/fw, new/app 2.hex");
    EXPECT_EQ(store.ReadAddressText(), "10.1.2.3");
    EXPECT_EQ(store.ReadStoredAddress(), 0x0A010203u);
    EXPECT_EQ(store.ReadStoredPath(), "/home/user/fw, new/app 2.hex");
    const std::string text = FileText();
    EXPECT_NE(text.find("[SETTINGS]"), std::string::npos) << text;
    EXPECT_NE(text.find("Vexa_IP=10.1.2.3"), std::string::npos) << text;
    EXPECT_NE(text.find("PATH="), std::string::npos) << text;
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(SettingsStoreTest, EveryReadSeesTheFileAsItIsNow) {
    const SettingsStore store = Store();
    store.StoreAddress(0x01020304);
    std::ofstream(dir.File("ostrel.ini")) << "[SETTINGS]\nVexa_IP=10.20.30\n";
    EXPECT_EQ(store.ReadAddressText(), "10.20.30");
    EXPECT_EQ(store.ReadStoredAddress(), 0u) << "malformed text reads as no address";
    std::ofstream(dir.File("ostrel.ini")) << "[SETTINGS]\nVexa_IP=1.2.3.300\n";
    EXPECT_EQ(store.ReadStoredAddress(), 0x0102042Cu);
}

TEST_F(SettingsStoreTest, UnwritableFileShowsTheMessageAndGoesOn) {
    if (::geteuid() == 0) {
        // root writes into read-only folders; make the file's folder a file instead.
        std::ofstream(dir.File("blocked")) << "x";
    } else {
        std::filesystem::create_directory(dir.File("blocked"));
        std::filesystem::permissions(dir.File("blocked"), std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::owner_exec);
    }
    const SettingsStore store(QString::fromStdString(dir.File("blocked/ostrel.ini").string()),
                              messages);
    store.StoreAddress(0x0A000001);
    store.StorePath("/tmp/a.hex");
    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.messages[0].text, "Error saving to registry");
    EXPECT_EQ(messages.messages[0].caption, "");
    EXPECT_EQ(messages.messages[1].text, "Error saving to registry");
    EXPECT_EQ(store.ReadAddressText(), "192.168.2.242");
}

TEST_F(SettingsStoreTest, APathIsKeptByteForByte) {
    const SettingsStore store = Store();
    const std::string utf8 = "/fw/\xC3\xA9t\xC3\xA9.hex";
    store.StorePath(utf8);
    EXPECT_EQ(store.ReadStoredPath(), utf8);
    EXPECT_NE(FileText().find("PATH=" + utf8), std::string::npos) << "plain text: " << FileText();
    const std::string latin1 = "/fw/\xE9t\xE9-\x80.hex";
    store.StorePath(latin1);
    EXPECT_EQ(Store().ReadStoredPath(), latin1) << "read afresh from the file";
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(SettingsStoreTest, DefaultFileFollowsXdgConfigHomeAndProgramName) {
    int argc = 1;
    char name[] = "ostrel";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.Path().string()));
    EXPECT_EQ(SettingsStore::DefaultFilePath(), IniPath());
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/someone");
    EXPECT_EQ(SettingsStore::DefaultFilePath(), QStringLiteral("/home/someone/.config/ostrel.ini"));
}

} // namespace
} // namespace ostrel
