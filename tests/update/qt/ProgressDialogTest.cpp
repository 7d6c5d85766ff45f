#include "update/qt/ProgressDialog.h"

#include "image/HexImage.h"
#include "tests/support/FlashCheck.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpPeer.h"
#include "tests/support/qt/Controls.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTimerEvent>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

using test::SimAt;

// Loopback addresses of this test program, so that it can run beside the others.
constexpr DeviceAddress moduleAddress = 0x7F000B01; // 127.0.11.1
constexpr const char* moduleText = "127.0.11.1";

class ProgressDialogTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::MessageRecorder messages;
};

TEST_F(ProgressDialogTest, HasTheTemplatesControls) {
    ProgressDialog dialog("firmware.hex", moduleAddress, messages, nullptr);
    const auto* bar = test::FindControl<QProgressBar>(&dialog, 1033);
    const auto* cancel = test::FindControl<QPushButton>(&dialog, 2);
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowTitleHint) << "a pop-up without caption";
    EXPECT_EQ(test::TabOrder(&dialog, 2), std::vector<int>{2});
}

TEST_F(ProgressDialogTest, WithoutAddressItWaitsForCancel) {
    ProgressDialog dialog("firmware.hex", 0, messages, nullptr);
    bool shown = false;
    test::WhenModalOpens([&](QWidget* modal) {
        shown = modal == &dialog;
        test::FindControl<QPushButton>(&dialog, 2)->click();
    });
    EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
    EXPECT_TRUE(shown);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Invalid IP address "});
    EXPECT_EQ(test::FindControl<QProgressBar>(&dialog, 1033)->maximum(), 100);
}

TEST_F(ProgressDialogTest, MissingFileFailsWithoutSendingAnything) {
    test::UdpPeer module(moduleText, 6234);
    ProgressDialog dialog((dir.Path() / "missing.hex").string(), moduleAddress, messages, nullptr);
    EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"can't load hex file", "Programming Failed!"}));
    EXPECT_FALSE(module.Receive(100ms));
}

TEST_F(ProgressDialogTest, TimerEventsOfOtherTimersRunNoStep) {
    ProgressDialog dialog("firmware.hex", moduleAddress, messages, nullptr);
    UpdateState seen = UpdateState::Fail;
    test::WhenModalOpens([&](QWidget*) {
        for (int id : {-1, 100000, 100001}) {
            QTimerEvent foreign(id);
            QCoreApplication::sendEvent(&dialog, &foreign);
        }
        seen = dialog.Procedure().State();
        dialog.reject();
    });
    EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
    EXPECT_EQ(seen, UpdateState::Prepare);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(ProgressDialogTest, UpdatesASimulatedModule) {
    test::SimProcess sim(SimAt(moduleText));
    const auto hex = test::MakeFirmware(8192, 16);
    const std::string path = dir.Write("firmware.hex", hex.Text());
    ProgressDialog dialog(path, moduleAddress, messages, nullptr);
    EXPECT_EQ(dialog.DoModal(), QDialog::Accepted);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_TRUE(dialog.Procedure().Completed());

    ASSERT_TRUE(sim.WaitForLog("boot", "Run"));
    EXPECT_TRUE(test::FlashHoldsTheImage(sim.Flash(), path));
    HexImage image;
    ASSERT_TRUE(image.Open(path));
    EXPECT_EQ(image.Build().length, 8192u);
}

TEST_F(ProgressDialogTest, CancelEndsTheUpdateAtOnce) {
    test::SimProcess sim(SimAt(moduleText, {"--silent"}));
    const std::string path = dir.Write("firmware.hex", test::MakeFirmware(256).Text());
    ProgressDialog dialog(path, moduleAddress, messages, nullptr);
    test::WhenModalOpens([&](QWidget*) {
        QTimer::singleShot(1000, &dialog,
                           [&] { test::FindControl<QPushButton>(&dialog, 2)->click(); });
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_TRUE(sim.WaitForLog("wake", "-")) << "the wake string went out before the Cancel";
    EXPECT_TRUE(sim.LogLines("boot", "Erase").empty());
}

} // namespace
} // namespace ostrel
