#include "app/qt/MainDialog.h"

#include "app/qt/UpdaterApp.h"
#include "platform/IpAddressEdit.h"
#include "tests/support/Bytes.h"
#include "tests/support/FakeModule.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/ReadOnlyFolder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpPeer.h"
#include "tests/support/qt/Controls.h"

#include <fstream>

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

using test::SimAt;

constexpr const char* moduleText = "127.0.12.1"; // this test program's own loopback address

// Counts how often a widget is shown.
class ShowCounter final : public QObject {
public:
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        shows += event->type() == QEvent::Show;
        return QObject::eventFilter(watched, event);
    }
};

class MainDialogTest : public ::testing::Test {
protected:
    std::unique_ptr<MainDialog> Make(const std::string& commandLine) {
        return std::make_unique<MainDialog>(commandLine, settings, messages);
    }
    // Runs the dialog: initialisation, then, if it opens, the given steps on the open dialog.
    int Run(MainDialog& dialog, std::function<void(MainDialog&)> whenOpen) {
        test::WhenActive(&dialog, [&dialog, whenOpen](QWidget*) { whenOpen(dialog); });
        return dialog.DoModal();
    }
    static platform::IpAddressEdit* AddressControl(const MainDialog& dialog) {
        return test::FindControl<platform::IpAddressEdit>(&dialog, 1034);
    }
    static QLineEdit* FileEdit(const MainDialog& dialog) {
        return test::FindControl<QLineEdit>(&dialog, 1027);
    }
    static void ClickDone(MainDialog& dialog) {
        test::FindControl<QPushButton>(&dialog, 2)->click();
    }
    void WriteSettings(const std::string& text) { std::ofstream(dir.File("ostrel.ini")) << text; }

    test::TempDir dir;
    test::MessageRecorder messages;
    SettingsStore settings{QString::fromStdString(dir.File("ostrel.ini").string()), messages};
};

TEST_F(MainDialogTest, HasEveryControlOfTheTemplate) {
    const auto dialog = Make("");
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Ostrel"));
    const std::vector<std::pair<int, const char*>> buttons = {
        {2, "Done"}, {1, "Update"}, {1031, "Browse"}, {1032, "Find"}, {1044, "Setup"}};
    for (const auto& [id, text] : buttons) {
        const auto* button = test::FindControl<QPushButton>(dialog.get(), id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), QString::fromLatin1(text));
    }
    EXPECT_TRUE(test::FindControl<QPushButton>(dialog.get(), 2)->isDefault());
    const auto* ident = test::FindControl<QCheckBox>(dialog.get(), 1047);
    ASSERT_NE(ident, nullptr);
    EXPECT_EQ(ident->text(), QStringLiteral("Ident"));
    EXPECT_FALSE(ident->isChecked());
    EXPECT_NE(AddressControl(*dialog), nullptr);
    EXPECT_NE(FileEdit(*dialog), nullptr);
    QStringList labels;
    for (const auto* label : dialog->findChildren<QLabel*>()) {
        labels << label->text();
    }
    for (const char* text : {"IP Address", "Filename", "Vers 1.06"}) {
        EXPECT_TRUE(labels.contains(QString::fromLatin1(text))) << text;
    }
    EXPECT_EQ(test::TabOrder(dialog.get(), 2),
              (std::vector<int>{2, 1034, 1027, 1, 1031, 1032, 1044, 1047}));
}

TEST_F(MainDialogTest, OpensWithTheFocusOnDoneAndTabsThroughEachControlOnce) {
    const auto dialog = Make("");
    Run(*dialog, [](MainDialog& open) {
        EXPECT_EQ(test::FocusedControl(&open), 2) << "Done, the first tab stop";
        EXPECT_EQ(test::TabWalk(&open, 8),
                  (std::vector<int>{1034, 1027, 1, 1031, 1032, 1044, 1047, 2}));
        EXPECT_EQ(test::TabWalk(&open, 2, true), (std::vector<int>{1047, 1044}));
        ClickDone(open);
    });
}

TEST_F(MainDialogTest, TheAddressControlMovesBetweenItsFieldsInsideItself) {
    const auto dialog = Make("-I10.1.2.3");
    Run(*dialog, [](MainDialog& open) {
        auto* control = AddressControl(open);
        control->setFocus(Qt::TabFocusReason);
        auto fields = control->findChildren<QLineEdit*>();
        ASSERT_EQ(fields.size(), 4);
        EXPECT_EQ(QApplication::focusWidget(), fields[0]);
        fields[0]->setCursorPosition(2);
        QTest::keyClick(fields[0], Qt::Key_Right);
        EXPECT_EQ(QApplication::focusWidget(), fields[1]) << "Right at a field's end";
        QTest::keyClick(fields[1], Qt::Key_Left);
        EXPECT_EQ(QApplication::focusWidget(), fields[0]) << "Left at a field's start";
        QTest::keyClick(fields[0], Qt::Key_Period);
        EXPECT_EQ(QApplication::focusWidget(), fields[1]) << "a dot";
        QTest::keyClicks(fields[1], "200");
        EXPECT_EQ(QApplication::focusWidget(), fields[2]) << "a full field";
        QTest::keyClick(fields[2], Qt::Key_Backspace); // clears the field, all of it selected
        EXPECT_EQ(QApplication::focusWidget(), fields[2]);
        QTest::keyClick(fields[2], Qt::Key_Backspace);
        EXPECT_EQ(QApplication::focusWidget(), fields[1]) << "Backspace at a field's start";
        QTest::keyClick(fields[1], Qt::Key_Tab);
        EXPECT_EQ(test::FocusedControl(&open), 1027) << "Tab leaves the control";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), fields[0]) << "and Shift+Tab comes back to it";
        EXPECT_EQ(control->Address(), 0x0AC80003u) << "10.200.<blank>.3";
        ClickDone(open);
    });
}

// Enter presses the push button that has the focus; Done only when none has it. The buttons'
// own handlers are cut off, so that Find never broadcasts here.
TEST_F(MainDialogTest, EnterPressesTheFocusedButtonAndDoneOtherwise) {
    for (const int id : {1, 1031, 1032, 1044}) {
        const auto dialog = Make("");
        auto* button = test::FindControl<QPushButton>(dialog.get(), id);
        QObject::disconnect(button, &QPushButton::clicked, dialog.get(), nullptr);
        int presses = 0;
        QObject::connect(button, &QPushButton::clicked, dialog.get(), [&] { ++presses; });
        Run(*dialog, [&](MainDialog& open) {
            button->setFocus(Qt::TabFocusReason);
            QTest::keyClick(button, Qt::Key_Return);
            EXPECT_EQ(presses, 1) << id;
            EXPECT_TRUE(open.isVisible()) << "Enter on " << id << " pressed Done";
            ClickDone(open);
        });
    }
    for (const int id : {1027, 1047}) {
        const auto dialog = Make("");
        EXPECT_EQ(Run(*dialog,
                      [id](MainDialog& open) {
                          auto* control = test::FindControl(&open, id);
                          control->setFocus(Qt::TabFocusReason);
                          QTest::keyClick(control, Qt::Key_Return);
                          if (open.isVisible()) {
                              ADD_FAILURE() << "Enter on " << id << " did not press Done";
                              ClickDone(open);
                          }
                      }),
                  QDialog::Rejected);
    }
}

TEST_F(MainDialogTest, WithoutSettingsFileShowsTheDefaults) {
    const auto dialog = Make("");
    Run(*dialog, ClickDone);
    EXPECT_EQ(AddressControl(*dialog)->Address(), 0xC0A802F2u);
    EXPECT_EQ(dialog->CurrentDeviceAddress(), 0xC0A802F2u);
    EXPECT_EQ(FileEdit(*dialog)->text(), QStringLiteral("C:\\"));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(MainDialogTest, ShowsTheStoredAddressAndPath) {
    WriteSettings("[SETTINGS]\nVexa_IP=10.0.0.5\nPATH=/fw/app.hex\n");
    const auto dialog = Make("");
    Run(*dialog, ClickDone);
    EXPECT_EQ(AddressControl(*dialog)->Address(), 0x0A000005u);
    EXPECT_EQ(FileEdit(*dialog)->text(), QStringLiteral("/fw/app.hex"));
}

TEST_F(MainDialogTest, AddressOptionIsUsedButNotStored) {
    const auto dialog = Make("-I10.1.2.3");
    Run(*dialog, ClickDone);
    EXPECT_EQ(AddressControl(*dialog)->Address(), 0x0A010203u);
    EXPECT_EQ(dialog->CurrentDeviceAddress(), 0x0A010203u);
    EXPECT_EQ(settings.ReadAddressText(), "192.168.2.242");
}

TEST_F(MainDialogTest, FileOptionIsStoredBeforeTheDialogShows) {
    const auto dialog = Make("-F/tmp/new.hex");
    EXPECT_EQ(settings.ReadStoredPath(), "/tmp/new.hex");
    EXPECT_EQ(dialog->FileName(), "/tmp/new.hex");
    Run(*dialog, ClickDone);
    EXPECT_EQ(FileEdit(*dialog)->text(), QStringLiteral("/tmp/new.hex"));
}

TEST_F(MainDialogTest, FileOptionWinsWhenItCannotBeStored) {
    WriteSettings("[SETTINGS]\nPATH=/fw/old.hex\n");
    const test::ReadOnlyFolder readOnly(dir.Path());
    if (readOnly.Refused()) {
        GTEST_SKIP() << "this file system cannot make a folder read-only for root";
    }
    const auto dialog = Make("-F/fw/new.hex");
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error saving to registry"});
    std::ifstream file(dir.File("ostrel.ini"));
    const std::string onDisk{std::istreambuf_iterator<char>(file), {}};
    ASSERT_NE(onDisk.find("PATH=/fw/old.hex"), std::string::npos) << "the store really failed";
    Run(*dialog, [](MainDialog& open) {
        EXPECT_EQ(FileEdit(open)->text(), QStringLiteral("/fw/new.hex"));
        ClickDone(open);
    });
    EXPECT_EQ(dialog->FileName(), "/fw/new.hex");
}

TEST_F(MainDialogTest, DoneEndsRejected) {
    const auto dialog = Make("");
    EXPECT_EQ(Run(*dialog, ClickDone), QDialog::Rejected);
}

TEST_F(MainDialogTest, UpdateWithBlankAddressStoresNothing) {
    const auto dialog = Make("");
    Run(*dialog, [](MainDialog& open) {
        AddressControl(open)->Clear();
        open.OnUpdateFirmware();
        EXPECT_TRUE(open.isVisible()) << "the dialog stays open";
        ClickDone(open);
    });
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Invalid IP address "});
    EXPECT_FALSE(std::filesystem::exists(dir.File("ostrel.ini")));
}

TEST_F(MainDialogTest, BrowseThenCancelChangesNothing) {
    WriteSettings("[SETTINGS]\nPATH=/fw/app.hex\n");
    const auto dialog = Make("");
    Run(*dialog, [](MainDialog& open) {
        test::WhenModalOpens([](QWidget* files) { static_cast<QDialog*>(files)->reject(); }, &open);
        open.OnBrowse();
        ClickDone(open);
    });
    EXPECT_EQ(FileEdit(*dialog)->text(), QStringLiteral("/fw/app.hex"));
    EXPECT_EQ(settings.ReadStoredPath(), "/fw/app.hex");
}

TEST_F(MainDialogTest, BrowseThenOkChangesEditAndPathButNotFileName) {
    const std::string chosen = dir.Write("chosen.HEX", ":00000001FF\n");
    const auto dialog = Make("-F/fw/old.hex");
    Run(*dialog, [&](MainDialog& open) {
        test::WhenModalOpens(
            [&](QWidget* modal) {
                auto* files = static_cast<QFileDialog*>(modal);
                // As a user would: type the full path into the file name field.
                files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                    ->setText(QString::fromStdString(chosen));
                static_cast<QDialog*>(files)->accept();
                if (files->isVisible()) {
                    ADD_FAILURE() << "the file dialog did not take the file";
                    files->reject();
                }
            },
            &open);
        open.OnBrowse();
        ClickDone(open);
    });
    EXPECT_EQ(FileEdit(*dialog)->text().toStdString(), chosen);
    EXPECT_EQ(settings.ReadStoredPath(), chosen);
    EXPECT_EQ(dialog->FileName(), "/fw/old.hex");
}

class MainDialogUpdateTest : public MainDialogTest {
protected:
    std::string Firmware() { return dir.Write("firmware.hex", test::MakeFirmware(4096).Text()); }
    std::string AutomaticCommandLine() {
        return std::string("-A -I") + moduleText + " -F" + Firmware();
    }
};

TEST_F(MainDialogUpdateTest, AutomaticSuccessEndsAcceptedWithoutEverShowing) {
    test::SimProcess sim(SimAt(moduleText));
    const auto dialog = Make(AutomaticCommandLine());
    EXPECT_TRUE(dialog->Automatic());
    ShowCounter counter;
    dialog->installEventFilter(&counter);
    EXPECT_EQ(Run(*dialog, ClickDone), QDialog::Accepted);
    EXPECT_EQ(counter.shows, 0);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(settings.ReadAddressText(), moduleText);
    EXPECT_EQ(sim.LogLines("boot", "Run").size(), 1u);
}

TEST_F(MainDialogUpdateTest, ANameThatIsNotUtf8IsBrowsedAndProgrammedAsItsBytes) {
    test::SimProcess sim(SimAt(moduleText));
    const std::string bytesName = dir.Path().string() + "/fw-\xE9\xFF.hex";
    std::filesystem::copy_file(Firmware(), bytesName);
    const auto dialog = Make(std::string("-I") + moduleText);
    EXPECT_EQ(Run(*dialog,
                  [&](MainDialog& open) {
                      test::WhenModalOpens(
                          [&](QWidget* modal) {
                              auto* files = static_cast<QFileDialog*>(modal);
                              // What the dialog would list for the file: Qt's lossy reading.
                              files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                                  ->setText(QFile::decodeName(bytesName.c_str()));
                              static_cast<QDialog*>(files)->accept();
                          },
                          &open);
                      open.OnBrowse();
                      open.OnUpdateFirmware();
                  }),
              QDialog::Accepted);
    EXPECT_EQ(settings.ReadStoredPath(), bytesName);
    EXPECT_EQ(dialog->FileName(), bytesName);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Programming Complete without Error."});
}

TEST_F(MainDialogUpdateTest, WhereNobodyCanAnswerAFailedAutomaticUpdateNeverOpens) {
    test::SimProcess sim(SimAt(moduleText, {"--bad-verify"}));
    MainDialog dialog(AutomaticCommandLine(), settings, messages, nullptr, Attendance::Nobody);
    ShowCounter counter;
    dialog.installEventFilter(&counter);
    EXPECT_EQ(dialog.DoModal(), MainDialog::failedUnattended);
    EXPECT_EQ(counter.shows, 0);
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{"Programming Failed!", "Update Failed"}));
}

// The program's exit code: -1 after Done, 0 after a successful update; settings in the folder
// XDG_CONFIG_HOME names.
class UpdaterAppTest : public MainDialogUpdateTest {
protected:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.Path().string()));
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }
};

TEST_F(UpdaterAppTest, DoneExitsWithMinusOne) {
    test::WhenModalOpens([](QWidget* main) { test::FindControl<QPushButton>(main, 2)->click(); });
    EXPECT_EQ(UpdaterApp().Run("-I127.0.12.9"), -1);
}

TEST_F(UpdaterAppTest, SuccessfulUpdateExitsWithZero) {
    test::SimProcess sim(SimAt(moduleText));
    EXPECT_EQ(UpdaterApp().Run(AutomaticCommandLine()), 0);
    EXPECT_EQ(settings.ReadAddressText(), moduleText) << "stored in the file the program uses";
}

TEST_F(MainDialogUpdateTest, ManualSuccessSaysSoAndEndsAccepted) {
    test::SimProcess sim(SimAt(moduleText));
    const auto dialog = Make(std::string("-I") + moduleText + " -F" + Firmware());
    EXPECT_EQ(Run(*dialog, [](MainDialog& open) { open.OnUpdateFirmware(); }), QDialog::Accepted);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Programming Complete without Error."});
}

TEST_F(MainDialogUpdateTest, AutomaticFailureSaysSoThenOpens) {
    test::SimProcess sim(SimAt(moduleText, {"--bad-verify"}));
    const auto dialog = Make(AutomaticCommandLine());
    ShowCounter counter;
    dialog->installEventFilter(&counter);
    EXPECT_EQ(Run(*dialog, ClickDone), QDialog::Rejected);
    EXPECT_EQ(counter.shows, 1);
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{"Programming Failed!", "Update Failed"}));
    EXPECT_EQ(settings.ReadAddressText(), moduleText)
        << "the address is stored whatever the outcome";
    EXPECT_TRUE(sim.LogLines("boot", "Run").empty());
}

// The device buttons talk to modules at 127.0.14.n.
class MainDialogDeviceTest : public MainDialogTest {
protected:
    static QCheckBox* Ident(MainDialog& dialog) {
        return test::FindControl<QCheckBox>(&dialog, 1047);
    }
    static void ClickSetup(MainDialog& dialog) {
        test::FindControl<QPushButton>(&dialog, 1044)->click();
    }
    // The identify state a module received, or -1 when nothing came.
    static int IdentState(test::UdpPeer& module) {
        const auto datagram = module.Receive(500ms);
        if (!datagram) {
            return -1;
        }
        EXPECT_EQ(datagram->bytes.size(), 10u);
        EXPECT_EQ(datagram->bytes[4], 'I');
        return datagram->bytes[3];
    }
    // A reply that makes the setup dialog open; the test then cancels it.
    static test::Bytes SetupReply() {
        test::Bytes reply(73, 0);
        reply[0] = 0xCA, reply[1] = 0xFE, reply[2] = 0x20, reply[3] = 0x03;
        return reply;
    }
    static void CancelWhenSetupOpens(const MainDialog& main) {
        test::WhenModalOpens([](QWidget* setup) { static_cast<QDialog*>(setup)->reject(); }, &main,
                             5000ms);
    }
};

TEST_F(MainDialogDeviceTest, IdentTwiceSendsOnThenOff) {
    test::UdpPeer module("127.0.14.1", 6234);
    const auto dialog = Make("-I127.0.14.1");
    Run(*dialog, [&](MainDialog& open) {
        Ident(open)->click();
        EXPECT_TRUE(Ident(open)->isChecked());
        Ident(open)->click();
        EXPECT_FALSE(Ident(open)->isChecked());
        ClickDone(open);
    });
    EXPECT_EQ(IdentState(module), 1);
    EXPECT_EQ(IdentState(module), 0);
    EXPECT_EQ(IdentState(module), -1);
}

TEST_F(MainDialogDeviceTest, IdentFollowsTheDeviceAddressAndSetupMovesIt) {
    test::UdpPeer first("127.0.14.2", 6234);
    test::FakeModule second("127.0.14.3", {SetupReply()});
    const auto dialog = Make("-I127.0.14.2");
    Run(*dialog, [&](MainDialog& open) {
        AddressControl(open)->SetAddress(0x7F000E03); // typed, not yet the device address
        Ident(open)->click();
        EXPECT_EQ(open.CurrentDeviceAddress(), 0x7F000E02u);
        CancelWhenSetupOpens(open);
        ClickSetup(open);
        EXPECT_EQ(open.CurrentDeviceAddress(), 0x7F000E03u);
        Ident(open)->click();
        ClickDone(open);
    });
    EXPECT_EQ(IdentState(first), 1);
    const auto identifies = second.WaitFor('I', 1, 500ms);
    ASSERT_EQ(identifies.size(), 1u);
    EXPECT_EQ(identifies[0][3], 0);
    EXPECT_EQ(second.Received('R').size(), 1u) << "Setup read the module in the control";
    EXPECT_EQ(settings.ReadAddressText(), "192.168.2.242") << "Setup stores nothing";
}

TEST_F(MainDialogDeviceTest, NoUserInputReachesAnyWindowWhileSetupReads) {
    test::FakeModule module("127.0.14.5", {{}, {}, SetupReply()}); // answers the third request
    const auto dialog = Make("-I127.0.14.5");
    bool inputDuringRead = false;
    const int result = Run(*dialog, [&](MainDialog& open) {
        QTimer::singleShot(100ms, &open, [&] {
            inputDuringRead = module.Received('R').size() < 3;
            QTest::mouseClick(test::FindControl<QPushButton>(&open, 2), Qt::LeftButton);
            QTest::keyClick(&open, Qt::Key_Escape);
            QTest::keyClick(test::FindControl<QPushButton>(&open, 1031), Qt::Key_Space);
        });
        CancelWhenSetupOpens(open);
        ClickSetup(open);
        EXPECT_TRUE(open.isVisible()) << "Done, Escape or Browse took effect during the read";
        EXPECT_EQ(module.Received('R').size(), 3u);
        ClickDone(open);
    });
    EXPECT_TRUE(inputDuringRead) << "the input came while the dialog was reading";
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(MainDialogDeviceTest, SetupWithBlankAddressOpensForAddressZero) {
    // Datagrams to 0.0.0.0 reach this host's own loopback address.
    test::FakeModule local("127.0.0.1", {SetupReply()});
    const auto dialog = Make("-I127.0.14.4");
    Run(*dialog, [&](MainDialog& open) {
        AddressControl(open)->Clear();
        CancelWhenSetupOpens(open);
        ClickSetup(open);
        EXPECT_EQ(open.CurrentDeviceAddress(), 0u);
        ClickDone(open);
    });
    EXPECT_EQ(local.Received('R').size(), 1u);
    EXPECT_TRUE(messages.messages.empty());
}

} // namespace
} // namespace ostrel
