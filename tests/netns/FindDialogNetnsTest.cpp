// Discovery against simulated modules on a bridge of network namespaces. Broadcasts must never
// leave this machine, so this program refuses to run in the machine's own network namespace:
// discovery-in-namespaces.sh builds the namespaces, starts the modules and runs it in one.
#include "app/qt/MainDialog.h"
#include "common/UniqueFd.h"
#include "devices/qt/FindDialog.h"
#include "platform/IpAddressEdit.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TempDir.h"
#include "tests/support/qt/Controls.h"

#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

// The modules the script starts: name, MAC and address, in the order of OSTREL_SIM_LOGS.
struct Module {
    const char* name;
    const char* mac;
    DeviceAddress address;
};
constexpr Module modules[] = {
    {"IO-1", "00-50-C2-00-00-21", 0xC0A80215},
    {"IO-2", "00-50-C2-00-00-22", 0xC0A80216},
    {"IO-3", "00-50-C2-00-00-23", 0xC0A80217}, // answers every request twice
};

std::vector<std::string> SimLogs() {
    std::vector<std::string> logs;
    std::stringstream list(qEnvironmentVariable("OSTREL_SIM_LOGS").toStdString());
    for (std::string path; std::getline(list, path, ':');) {
        logs.push_back(path);
    }
    return logs;
}

// Read requests a module received, by the address they were sent to.
int ReadsTo(const std::string& log, const std::string& destination) {
    std::ifstream in(log);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.find(" " + destination + " app read ") != std::string::npos;
    }
    return count;
}

void Wait(std::chrono::milliseconds time) {
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
}

QTreeWidget* Tree(const QWidget& dialog) {
    return test::FindControl<QTreeWidget>(&dialog, 1035);
}
QPushButton* Rescan(const QWidget& dialog) {
    return test::FindControl<QPushButton>(&dialog, 1029);
}

std::vector<std::string> Labels(const QWidget& dialog) {
    std::vector<std::string> labels;
    for (int i = 0; i < Tree(dialog)->topLevelItemCount(); ++i) {
        labels.push_back(Tree(dialog)->topLevelItem(i)->text(0).toStdString());
    }
    return labels;
}

class FindDialogNetnsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A broadcast from here would leave the machine: only ever in a namespace of our own,
        // never in the one the script was started in.
        if (!test::InALaunchersNetworkNamespace() || SimLogs().size() != std::size(modules)) {
            std::fprintf(stderr, "run by discovery-in-namespaces.sh only\n");
            std::exit(2);
        }
    }
    // Runs the dialog; steps run once it is open.
    int Run(FindDialog& dialog, const std::function<void(FindDialog&)>& steps) {
        test::WhenActive(&dialog, [&](QWidget*) { steps(dialog); });
        return dialog.DoModal();
    }

    test::MessageRecorder messages;
};

TEST_F(FindDialogNetnsTest, ListsEveryModuleOnceInTheOrderHeard) {
    const auto logs = SimLogs();
    std::vector<int> before;
    for (const auto& log : logs) {
        before.push_back(ReadsTo(log, "255.255.255.255"));
    }
    FindDialog find(messages, nullptr);
    Run(find, [](FindDialog& open) {
        EXPECT_FALSE(Rescan(open)->isEnabled());
        Wait(1000ms);
        const auto labels = Labels(open);
        ASSERT_EQ(labels.size(), 3u);
        for (const Module& module : modules) {
            const std::string address = FormatDottedQuad(module.address);
            const auto listed =
                std::count_if(labels.begin(), labels.end(), [&](const std::string& label) {
                    return label.find(module.name) == 0 &&
                           label.find(" at " + address + " ver 1.06") != std::string::npos;
                });
            EXPECT_EQ(listed, 1) << module.name;
        }
        // Only the first one heard is selected.
        const auto selected = Tree(open)->selectedItems();
        ASSERT_EQ(selected.size(), 1);
        EXPECT_EQ(selected[0], Tree(open)->topLevelItem(0));
        // The list itself runs in descending MAC order, whatever the order heard.
        const auto& nodes = open.Devices().Nodes();
        ASSERT_EQ(nodes.size(), 3u);
        EXPECT_EQ(nodes[0].Address(), modules[2].address);
        EXPECT_EQ(nodes[2].Address(), modules[0].address);
        open.reject();
    });
    for (std::size_t i = 0; i < logs.size(); ++i) {
        EXPECT_EQ(ReadsTo(logs[i], "255.255.255.255"), before[i] + 1) << "one request per scan";
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(FindDialogNetnsTest, RescanAsksTheSubnetAfterTwoTicks) {
    const auto logs = SimLogs();
    std::vector<int> before;
    for (const auto& log : logs) {
        before.push_back(ReadsTo(log, "192.168.2.255"));
    }
    FindDialog find(messages, nullptr);
    Run(find, [](FindDialog& open) {
        Wait(2000ms);
        EXPECT_FALSE(Rescan(open)->isEnabled()) << "still within two ticks of 1500 ms";
        Wait(1500ms);
        ASSERT_TRUE(Rescan(open)->isEnabled());
        ASSERT_EQ(Labels(open).size(), 3u);
        Rescan(open)->click();
        EXPECT_EQ(Labels(open).size(), 0u) << "emptied before any new reply";
        EXPECT_FALSE(Rescan(open)->isEnabled());
        Wait(1000ms);
        EXPECT_EQ(Labels(open).size(), 3u);
        open.reject();
    });
    for (std::size_t i = 0; i < logs.size(); ++i) {
        EXPECT_EQ(ReadsTo(logs[i], "192.168.2.255"), before[i] + 1)
            << "the rescan goes to the subnet";
    }
}

TEST_F(FindDialogNetnsTest, OkGivesTheChosenModulesAddress) {
    FindDialog find(messages, nullptr);
    const int result = Run(find, [](FindDialog& open) {
        Wait(1000ms);
        for (int i = 0; i < Tree(open)->topLevelItemCount(); ++i) {
            if (Tree(open)->topLevelItem(i)->text(0).startsWith(QStringLiteral("IO-2"))) {
                Tree(open)->setCurrentItem(Tree(open)->topLevelItem(i));
            }
        }
        test::FindControl<QPushButton>(&open, 1)->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(find.SelectedAddress(), modules[1].address);
}

TEST_F(FindDialogNetnsTest, OkWithoutSelectionStaysOpen) {
    FindDialog find(messages, nullptr);
    const int result = Run(find, [&](FindDialog& open) {
        Wait(500ms);
        Tree(open)->clearSelection();
        test::FindControl<QPushButton>(&open, 1)->click();
        EXPECT_TRUE(open.isVisible());
        EXPECT_EQ(messages.Texts(),
                  std::vector<std::string>{
                      "You must first select a device in the\nSelect a Unit in the tree."});
        open.reject();
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(find.SelectedAddress(), 0u);
}

UniqueFd TakePort(std::uint16_t port) {
    UniqueFd sock(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    EXPECT_EQ(::bind(sock.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    return sock;
}

TEST_F(FindDialogNetnsTest, TakenPortFallsBackTo6235) {
    const auto taken = TakePort(6234);
    FindDialog find(messages, nullptr);
    Run(find, [](FindDialog& open) {
        Wait(1000ms);
        EXPECT_EQ(Labels(open).size(), 3u);
        open.reject();
    });
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Try create again"});
}

TEST_F(FindDialogNetnsTest, BothPortsTakenListsNothing) {
    const auto first = TakePort(6234);
    const auto second = TakePort(6235);
    const auto logs = SimLogs();
    const int before = ReadsTo(logs[0], "255.255.255.255");
    FindDialog find(messages, nullptr);
    Run(find, [](FindDialog& open) {
        Wait(500ms);
        EXPECT_EQ(Labels(open).size(), 0u);
        open.reject();
    });
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"Try create again",
                                        "Unable to Bind socket, is Brimlet already open? 98 - 0"}));
    EXPECT_EQ(ReadsTo(logs[0], "255.255.255.255"), before) << "nothing was sent";
}

class MainDialogFindTest : public FindDialogNetnsTest {
protected:
    test::TempDir dir;
    SettingsStore settings{QString::fromStdString(dir.File("ostrel.ini").string()), messages};
};

TEST_F(MainDialogFindTest, FindThenCancelKeepsEverything) {
    MainDialog main("-I10.9.8.7", settings, messages);
    test::WhenActive(&main, [&](QWidget*) {
        test::WhenModalOpens([](QWidget* find) { static_cast<QDialog*>(find)->reject(); }, &main);
        main.OnFind();
        EXPECT_EQ(test::FindControl<platform::IpAddressEdit>(&main, 1034)->Address(), 0x0A090807u);
        EXPECT_EQ(main.CurrentDeviceAddress(), 0x0A090807u);
        main.reject();
    });
    main.DoModal();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"IP not set"});
    EXPECT_FALSE(std::filesystem::exists(dir.File("ostrel.ini")));
}

TEST_F(MainDialogFindTest, FindThenOkTakesTheModule) {
    MainDialog main("-I10.9.8.7 -F/fw/a.hex", settings, messages);
    test::WhenActive(&main, [&](QWidget*) {
        test::WhenModalOpens(
            [](QWidget* find) {
                Wait(1000ms);
                test::FindControl<QPushButton>(find, 1)->click(); // the first module heard
            },
            &main);
        main.OnFind();
        main.reject();
    });
    main.DoModal();
    EXPECT_TRUE(messages.messages.empty());
    const DeviceAddress chosen = main.CurrentDeviceAddress();
    EXPECT_TRUE(chosen == modules[0].address || chosen == modules[1].address ||
                chosen == modules[2].address);
    EXPECT_EQ(test::FindControl<platform::IpAddressEdit>(&main, 1034)->Address(), chosen);
    EXPECT_EQ(settings.ReadAddressText(), FormatDottedQuad(chosen));
    EXPECT_EQ(main.FileName(), "/fw/a.hex");
}

} // namespace
} // namespace ostrel
