#include "devices/qt/SetupDialog.h"

#include "devices/ManagementDatagrams.h"
#include "platform/IpAddressEdit.h"
#include "tests/support/Bytes.h"
#include "tests/support/FakeModule.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/qt/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using test::Bytes;
using test::HexBytes;
using namespace std::chrono_literals;

// This test program's loopback addresses: a module at 127.0.13.n.
constexpr DeviceAddress ModuleAt(int n) {
    return 0x7F000D00u | static_cast<DeviceAddress>(n);
}
std::string ModuleText(int n) {
    return "127.0.13." + std::to_string(n);
}

// The settings of the example module as its reply carries them.
Bytes Reply() {
    return HexBytes("CA FE 20 03 00"
                    "44 00 00 00  C0 A8 02 F2  FF FF FF 00  00 50 C2 12 34 56"
                    "4C 61 62 2D 37 20 20 20  00 00"
                    "31 2E 30 36 00 00 00 00  56 45 58 41 2D 49 4F 00"
                    "0B 71  18 5A  00 00  DE FE 20 16  20 20 20 20 20  00"
                    "00 00 00 00 00 00 00 00");
}

template <typename Edit>
Bytes WithField(Bytes reply, std::size_t offset, Edit edit) {
    edit(reply.data() + offset);
    return reply;
}

class SetupDialogTest : public ::testing::Test {
protected:
    // Runs the dialog for the module; steps run once it shows. Returns whether it showed.
    bool Run(DeviceAddress module, const std::function<void(SetupDialog&)>& steps) {
        SetupDialog dialog(module, messages, nullptr);
        bool shown = false;
        test::WhenActive(&dialog, [&](QWidget*) {
            shown = true;
            steps(dialog);
        });
        result = dialog.DoModal();
        return shown;
    }
    template <typename Control>
    static Control* Get(SetupDialog& dialog, int id) {
        return test::FindControl<Control>(&dialog, id);
    }
    static void Apply(SetupDialog& dialog) { Get<QPushButton>(dialog, 1045)->click(); }
    static void Cancel(SetupDialog& dialog) { Get<QPushButton>(dialog, 2)->click(); }

    test::MessageRecorder messages;
    int result = -1;
};

TEST_F(SetupDialogTest, HasEveryControlInTabOrder) {
    test::FakeModule module(ModuleText(1).c_str(), {Reply()});
    EXPECT_TRUE(Run(ModuleAt(1), [](SetupDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Setup Vexa Module"));
        EXPECT_EQ(Get<QPushButton>(dialog, 1045)->text(), QStringLiteral("Apply and Exit"));
        EXPECT_TRUE(Get<QPushButton>(dialog, 1045)->isDefault());
        EXPECT_EQ(Get<QPushButton>(dialog, 2)->text(), QStringLiteral("Cancel"));
        EXPECT_EQ(Get<QCheckBox>(dialog, 1040)->text(), QStringLiteral("DHCP Enabled"));
        const auto* pid = Get<QComboBox>(dialog, 1046);
        ASSERT_EQ(pid->count(), 8);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(pid->itemText(i), QStringLiteral("0B7%1").arg(i));
        }
        EXPECT_EQ(Get<QLineEdit>(dialog, 1048)->maxLength(), 13);
        EXPECT_EQ(test::TabOrder(&dialog, 1045),
                  (std::vector<int>{1045, 2, 1042, 1040, 1041, 1046, 1027, 1048}));
        Cancel(dialog);
    }));
}

TEST_F(SetupDialogTest, OpensWithTheFocusOnApplyAndTabsThroughEachControlOnce) {
    test::FakeModule module(ModuleText(20).c_str(), {Reply()});
    EXPECT_TRUE(Run(ModuleAt(20), [](SetupDialog& dialog) {
        EXPECT_EQ(test::FocusedControl(&dialog), 1045) << "Apply and Exit, the first tab stop";
        EXPECT_EQ(test::TabWalk(&dialog, 8),
                  (std::vector<int>{2, 1042, 1040, 1041, 1046, 1027, 1048, 1045}));
        EXPECT_EQ(test::TabWalk(&dialog, 1, true), std::vector<int>{1048});
        test::FindControl(&dialog, 1045)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); // presses Apply
        if (dialog.isVisible()) {
            ADD_FAILURE() << "Space on the focused Apply did nothing";
            Cancel(dialog);
        }
    }));
    EXPECT_EQ(result, QDialog::Accepted);
}

TEST_F(SetupDialogTest, EnterOnCancelCancelsAndElsewhereApplies) {
    test::FakeModule module(ModuleText(21).c_str(), {Reply(), Reply()});
    EXPECT_TRUE(Run(ModuleAt(21), [](SetupDialog& dialog) {
        Get<QPushButton>(dialog, 2)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Get<QPushButton>(dialog, 2), Qt::Key_Return);
    }));
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(Run(ModuleAt(21), [](SetupDialog& dialog) {
        Get<QLineEdit>(dialog, 1027)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Get<QLineEdit>(dialog, 1027), Qt::Key_Return);
    }));
    EXPECT_EQ(result, QDialog::Accepted);
}

TEST_F(SetupDialogTest, ShowsWhatTheModuleReports) {
    test::FakeModule module(ModuleText(2).c_str(), {Reply()});
    EXPECT_TRUE(Run(ModuleAt(2), [](SetupDialog& dialog) {
        EXPECT_EQ(Get<platform::IpAddressEdit>(dialog, 1042)->Address(), 0xC0A802F2u);
        EXPECT_EQ(Get<platform::IpAddressEdit>(dialog, 1041)->Address(), 0xFFFFFF00u);
        EXPECT_EQ(Get<QLineEdit>(dialog, 1027)->text(), QStringLiteral("6234"));
        EXPECT_EQ(Get<QComboBox>(dialog, 1046)->currentText(), QStringLiteral("0B71"));
        EXPECT_EQ(Get<QLineEdit>(dialog, 1048)->text(), QStringLiteral("Lab-7        "))
            << "its blanks kept";
        EXPECT_FALSE(Get<QCheckBox>(dialog, 1040)->isChecked());
        EXPECT_TRUE(Get<platform::IpAddressEdit>(dialog, 1042)->isEnabled());
        Apply(dialog);
    }));
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(module.Received('R').size(), 1u);
    EXPECT_TRUE(module.WaitFor('W', 1, 100ms).empty()) << "nothing changed, nothing written";
}

TEST_F(SetupDialogTest, NoModuleMeansFifteenRequestsAndNoDialog) {
    test::FakeModule module(ModuleText(3).c_str(), {});
    EXPECT_FALSE(Run(ModuleAt(3), [](SetupDialog&) {}));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"no data returned"});
    EXPECT_EQ(messages.messages[0].icon, MessageIcon::Exclamation);
    const auto requests = module.Received('R');
    ASSERT_EQ(requests.size(), 15u);
    for (const auto& request : requests) {
        EXPECT_BYTES_EQ(BuildReadRequest(), request);
    }
}

TEST_F(SetupDialogTest, ShortRepliesUseUpTriesAndAnyLongOneIsTaken) {
    Bytes sixty = Reply();
    sixty.resize(60);
    Bytes noMagic = Reply();
    noMagic.resize(61);
    noMagic[0] = 0x00; // not even a reply: taken all the same
    test::FakeModule module(ModuleText(4).c_str(), {sixty, {}, noMagic});
    EXPECT_TRUE(Run(ModuleAt(4), [](SetupDialog& dialog) {
        EXPECT_EQ(Get<platform::IpAddressEdit>(dialog, 1042)->Address(), 0xC0A802F2u);
        // Bytes 61 to 63 of the identification were not sent: they read as zero.
        EXPECT_EQ(Get<QLineEdit>(dialog, 1048)->text(), QStringLiteral("Lab-7     "));
        Cancel(dialog);
    }));
    EXPECT_EQ(module.Received('R').size(), 3u);
}

TEST_F(SetupDialogTest, ChangesAreWrittenOnceLittleEndian) {
    test::FakeModule module(ModuleText(5).c_str(), {Reply()});
    EXPECT_TRUE(Run(ModuleAt(5), [](SetupDialog& dialog) {
        Get<QLineEdit>(dialog, 1027)->setText(QStringLiteral("7000"));
        Get<QLineEdit>(dialog, 1048)->setText(QStringLiteral("Bench-3"));
        Get<QComboBox>(dialog, 1046)->setCurrentIndex(4);
        Get<QCheckBox>(dialog, 1040)->click();
        EXPECT_FALSE(Get<platform::IpAddressEdit>(dialog, 1042)->isEnabled());
        EXPECT_FALSE(Get<platform::IpAddressEdit>(dialog, 1041)->isEnabled());
        Apply(dialog);
    }));
    const auto writes = module.WaitFor('W', 1, 1000ms);
    ASSERT_EQ(writes.size(), 1u);
    ModuleConfig expected;
    expected.ipAddress = {192, 168, 2, 242}; // disabled controls are still sent
    expected.subnetMask = {255, 255, 255, 0};
    expected.dhcpEnabled = true;
    expected.usbPid = 0x0B74;
    expected.receptionPort = 7000;
    const std::string ident = "Bench-3      ";
    std::copy(ident.begin(), ident.end(), expected.identification.begin());
    EXPECT_BYTES_EQ(BuildWriteRequest(expected), writes[0]);
}

TEST_F(SetupDialogTest, CancelSendsNothingWhateverChanged) {
    test::FakeModule module(ModuleText(6).c_str(), {Reply()});
    EXPECT_TRUE(Run(ModuleAt(6), [](SetupDialog& dialog) {
        Get<QLineEdit>(dialog, 1027)->setText(QStringLiteral("1"));
        Get<QCheckBox>(dialog, 1040)->click();
        Cancel(dialog);
    }));
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(module.WaitFor('W', 1, 100ms).empty());
    EXPECT_EQ(module.Received().size(), 1u) << "only the read request";
}

struct ApplyCase {
    const char* name;
    Bytes reply;
    std::function<void(SetupDialog&)> edit;
    bool writes;
    std::function<void(const ManagementRequest&)> check;
};

class SetupApplyTest : public SetupDialogTest, public ::testing::WithParamInterface<ApplyCase> {};

TEST_P(SetupApplyTest, WritesOnlyWhenSomethingChanged) {
    static int next = 10;
    const int n = next++;
    test::FakeModule module(ModuleText(n).c_str(), {GetParam().reply});
    EXPECT_TRUE(Run(ModuleAt(n), [](SetupDialog& dialog) {
        GetParam().edit(dialog);
        Apply(dialog);
    }));
    // A write goes out just before the dialog ends; give it the time to arrive.
    const auto writes = module.WaitFor('W', 1, GetParam().writes ? 1000ms : 100ms);
    ASSERT_EQ(writes.size(), GetParam().writes ? 1u : 0u);
    if (GetParam().writes && GetParam().check) {
        ManagementRequest request{};
        std::copy_n(writes[0].begin(), request.size(), request.begin());
        GetParam().check(request);
    }
}

void Nothing(SetupDialog&) {}
void SetPort(SetupDialog& dialog, const char* text) {
    test::FindControl<QLineEdit>(&dialog, 1027)->setText(QString::fromLatin1(text));
}
std::uint16_t WrittenPort(const ManagementRequest& request) {
    return static_cast<std::uint16_t>(request[5 + 46] | request[5 + 47] << 8);
}
std::string WrittenIdentification(const ManagementRequest& request) {
    std::string text(request.begin() + 5 + 18, request.begin() + 5 + 26);
    return text + std::string(request.begin() + 5 + 54, request.begin() + 5 + 59);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupApplyTest,
    ::testing::Values(
        ApplyCase{"Untouched", Reply(), Nothing, false, {}},
        ApplyCase{"UnknownPidKeptWithoutSelection",
                  WithField(Reply(), 49, [](std::uint8_t* p) { p[0] = 0x0B, p[1] = 0x80; }),
                  [](SetupDialog& d) {
                      EXPECT_EQ(test::FindControl<QComboBox>(&d, 1046)->currentIndex(), -1);
                  },
                  false,
                  {}},
        ApplyCase{"DhcpOneDiffersFromSeventeen",
                  WithField(Reply(), 32, [](std::uint8_t* p) { p[0] = 0x01; }),
                  [](SetupDialog& d) {
                      EXPECT_TRUE(test::FindControl<QCheckBox>(&d, 1040)->isChecked());
                  },
                  true, [](const ManagementRequest& r) { EXPECT_EQ(r[5 + 26], 17); }},
        ApplyCase{
            "DhcpSeventeenUnchanged",
            WithField(Reply(), 32, [](std::uint8_t* p) { p[0] = 0x11; }),
            [](SetupDialog& d) {
                EXPECT_FALSE(test::FindControl<platform::IpAddressEdit>(&d, 1042)->isEnabled());
                test::FindControl<QCheckBox>(&d, 1040)->click();
                EXPECT_TRUE(test::FindControl<platform::IpAddressEdit>(&d, 1042)->isEnabled());
                test::FindControl<QCheckBox>(&d, 1040)->click();
            },
            false,
            {}},
        ApplyCase{
            "ZeroPaddedIdentificationIsWrittenWithBlanks",
            WithField(Reply(), 28,
                      [](std::uint8_t* p) { std::fill_n(p, 3, 0), std::fill_n(p + 31, 5, 0); }),
            [](SetupDialog& d) {
                EXPECT_EQ(test::FindControl<QLineEdit>(&d, 1048)->text(), QStringLiteral("Lab-7"));
            },
            true,
            [](const ManagementRequest& r) {
                EXPECT_EQ(WrittenIdentification(r), "Lab-7        ");
            }},
        ApplyCase{"EmptyIdentificationIsThirteenBlanks", Reply(),
                  [](SetupDialog& d) { test::FindControl<QLineEdit>(&d, 1048)->clear(); }, true,
                  [](const ManagementRequest& r) {
                      EXPECT_EQ(WrittenIdentification(r), std::string(13, ' '));
                  }},
        ApplyCase{"PortReadsFiveCharacters", Reply(), [](SetupDialog& d) { SetPort(d, "123456"); },
                  true, [](const ManagementRequest& r) { EXPECT_EQ(WrittenPort(r), 12345); }},
        ApplyCase{"PortWrapsToSixteenBits", Reply(), [](SetupDialog& d) { SetPort(d, "70000"); },
                  true, [](const ManagementRequest& r) { EXPECT_EQ(WrittenPort(r), 4464); }},
        ApplyCase{"PortWithoutNumberKeepsTheModules",
                  Reply(),
                  [](SetupDialog& d) { SetPort(d, "abc"); },
                  false,
                  {}},
        ApplyCase{"AddressChangeIsWritten", Reply(),
                  [](SetupDialog& d) {
                      test::FindControl<platform::IpAddressEdit>(&d, 1042)->SetAddress(0xC0A80207);
                  },
                  true, [](const ManagementRequest& r) { EXPECT_EQ(r[5 + 7], 7); }}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(SetupDialogTest, SimulatedModuleAnsweringTheThirdRequestIsShown) {
    test::SimOptions options;
    options.address = ModuleText(40);
    options.port = 6234;
    options.args = {"--drop-first", "2", "--pid", "0x0B74", "--dhcp", "0x11"};
    test::SimProcess sim(options);
    EXPECT_TRUE(Run(ModuleAt(40), [](SetupDialog& dialog) {
        EXPECT_EQ(Get<platform::IpAddressEdit>(dialog, 1042)->Address(), ModuleAt(40));
        EXPECT_EQ(Get<QComboBox>(dialog, 1046)->currentIndex(), 4) << "the fifth entry, 0B74";
        EXPECT_TRUE(Get<QCheckBox>(dialog, 1040)->isChecked());
        Cancel(dialog);
    }));
    EXPECT_EQ(sim.LogLines("app", "read").size(), 3u);
    EXPECT_EQ(sim.LogLines("app", "read")[2].find("answered") != std::string::npos, true);
}

TEST_F(SetupDialogTest, SimulatedModuleKeepsWhatIsWritten) {
    test::SimOptions options;
    options.address = ModuleText(41);
    options.port = 6234;
    test::SimProcess sim(options);
    EXPECT_TRUE(Run(ModuleAt(41), [](SetupDialog& dialog) {
        Get<QLineEdit>(dialog, 1048)->setText(QStringLiteral("Rack 4 left"));
        Get<QComboBox>(dialog, 1046)->setCurrentIndex(7);
        Get<QLineEdit>(dialog, 1027)->setText(QStringLiteral("6240"));
        Apply(dialog);
    }));
    ASSERT_TRUE(sim.WaitForLog("app", "write"));
    EXPECT_TRUE(Run(ModuleAt(41), [](SetupDialog& dialog) {
        EXPECT_EQ(Get<QLineEdit>(dialog, 1048)->text(), QStringLiteral("Rack 4 left  "));
        EXPECT_EQ(Get<QComboBox>(dialog, 1046)->currentText(), QStringLiteral("0B77"));
        EXPECT_EQ(Get<QLineEdit>(dialog, 1027)->text(), QStringLiteral("6240"));
        Apply(dialog); // as it was read: nothing to write
    }));
    EXPECT_EQ(sim.LogLines("app", "read").size(), 2u);
    EXPECT_EQ(sim.LogLines("app", "write").size(), 1u);
}

} // namespace
} // namespace ostrel
