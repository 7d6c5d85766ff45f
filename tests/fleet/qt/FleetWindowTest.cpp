// The fleet window offscreen, driven by key presses and clicks, against simulated modules on
// loopback addresses that it reads by unicast alone: it never scans here.
#include "fleet/qt/FleetWindow.h"

#include "common/DottedAddress.h"
#include "fleet/qt/UpdateFleetDialog.h"
#include "tests/support/FlashCheck.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/qt/Controls.h"

#include <nlohmann/json.hpp>

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

// Module n of this program at 127.0.43.n; 127.0.43.99 never answers.
std::string ModuleAt(int n) {
    return "127.0.43." + std::to_string(n);
}

class FleetWindowTest : public ::testing::Test {
protected:
    // Simulated modules, each named and versioned as given, with its own extra options.
    void StartModules(const std::vector<std::vector<std::string>>& modules) {
        for (std::size_t i = 0; i < modules.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            std::vector<std::string> args{"--mac", "00-50-C2-00-43-0" + n};
            args.insert(args.end(), modules[i].begin(), modules[i].end());
            sims.push_back(std::make_unique<test::SimProcess>(
                test::SimAt(ModuleAt(static_cast<int>(i) + 1), args)));
        }
    }
    // A window that reads the modules (and those extra addresses) and has shown their answers.
    void OpenWindow(std::vector<std::string> extra = {}) {
        FleetWindowStart start{false, {}, dir.File("fleet.ini").string()};
        for (std::size_t i = 0; i < sims.size(); ++i) {
            extra.push_back(ModuleAt(static_cast<int>(i) + 1));
        }
        for (const std::string& address : extra) {
            start.addresses.push_back(*ParseModuleAddress(address, error));
        }
        window = std::make_unique<FleetWindow>(start, messages);
        window->show();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window->Model().rowCount() == static_cast<int>(extra.size()); }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Busy(); }, 5000));
        QTest::qWait(150); // the last tick takes the reads' answers
    }
    // Presses the keys on the table as a user would, in the active window (the offscreen
    // platform gives the focus back to no window when a dialog closes).
    void Press(QKeySequence keys) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keySequence(&window->Table(), keys);
    }
    // Presses the keys, with the dialog they open handled by the given action.
    void PressOnTable(QKeySequence keys, std::function<void(UpdateFleetDialog&)> inDialog) {
        test::WhenModalOpens([inDialog](QWidget* modal) {
            if (auto* dialog = qobject_cast<UpdateFleetDialog*>(modal)) {
                inDialog(*dialog);
            }
        });
        Press(keys);
    }
    static void ChooseAndAccept(UpdateFleetDialog& dialog, const std::string& file) {
        dialog.ChooseFile(file);
        QPushButton* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        QTest::mouseClick(ok, Qt::LeftButton);
    }
    static QString PlanOf(const UpdateFleetDialog& dialog) {
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            if (label->accessibleName() == "Plan") {
                return label->text();
            }
        }
        return {};
    }
    bool UpdateEnds(std::chrono::milliseconds limit = 60s) {
        return QTest::qWaitFor([&] { return !window->Busy() && window->LastOutcome(); },
                               static_cast<int>(limit.count()));
    }
    QString Shown(int row, int column) const {
        return window->Shown().index(row, column).data().toString();
    }
    std::string ProgressOf(const std::string& address) const {
        const auto row = window->Model().RowOf(*ParseModuleAddress(address, error));
        return window->Model()
            .index(*row, FleetTableModel::Progress)
            .data()
            .toString()
            .toStdString();
    }

    test::TempDir dir;
    test::MessageRecorder messages;
    std::vector<std::unique_ptr<test::SimProcess>> sims;
    std::unique_ptr<FleetWindow> window;
    std::string firmware = dir.Write("firmware.hex", test::MakeFirmware(8 * 1024).Text());
    mutable std::string error;
};

TEST_F(FleetWindowTest, ReadsSortsFiltersAndRemembersTheColumns) {
    StartModules({{"--name", "PUMP-A", "--app-version", "1.06"},
                  {"--name", "FAN-B", "--app-version", "1.07"},
                  {"--name", "PUMP-C", "--app-version", "1.05"}});
    OpenWindow({"127.0.43.99"});
    EXPECT_EQ(ProgressOf("127.0.43.99"), "not answering");
    EXPECT_EQ(ProgressOf(ModuleAt(2)), "");

    QHeaderView* header = window->Table().horizontalHeader();
    const auto sortBy = [&](int column) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          {header->sectionViewportPosition(column) + 5, header->height() / 2});
    };
    sortBy(FleetTableModel::Version);
    EXPECT_EQ(Shown(0, FleetTableModel::Name), "");
    EXPECT_EQ(Shown(1, FleetTableModel::Name), "PUMP-C");
    EXPECT_EQ(Shown(3, FleetTableModel::Name), "FAN-B");
    sortBy(FleetTableModel::Name);
    EXPECT_EQ(Shown(1, FleetTableModel::Name), "FAN-B");

    QTest::keySequence(window.get(), QKeySequence::Find);
    QTest::keyClicks(QApplication::focusWidget(), "pump");
    ASSERT_EQ(window->Shown().rowCount(), 2);
    EXPECT_EQ(Shown(0, FleetTableModel::Name), "PUMP-A");
    window->Filter().clear();
    QTest::keyClicks(&window->Filter(), "00-50-C2-00-43-02");
    ASSERT_EQ(window->Shown().rowCount(), 1) << "the filter matches any column";
    EXPECT_EQ(Shown(0, FleetTableModel::Version), "1.07");

    header->resizeSection(FleetTableModel::Identification, 217);
    window.reset();
    sims.clear();
    OpenWindow({"127.0.43.99"});
    EXPECT_EQ(window->Table().horizontalHeader()->sectionSize(FleetTableModel::Identification),
              217);
}

// Select all that match, Ctrl+U, choose the file, Update: each row ends with its own outcome,
// and the report and the table's export hold every row.
TEST_F(FleetWindowTest, SelectAllMatchingThenUpdateWithAFailureRow) {
    StartModules({{}, {"--bad-verify"}, {}, {"--silent"}});
    OpenWindow();
    Press(QKeySequence::SelectAll);
    PressOnTable(QKeySequence(Qt::CTRL | Qt::Key_U), [&](UpdateFleetDialog& dialog) {
        dialog.ChooseFile(firmware);
        EXPECT_TRUE(PlanOf(dialog).contains("Program frames")) << PlanOf(dialog).toStdString();
        ChooseAndAccept(dialog, firmware);
    });
    ASSERT_TRUE(UpdateEnds());
    EXPECT_EQ(window->LastOutcome()->Count(ModuleResult::Done), 2u);
    EXPECT_EQ(window->LastOutcome()->Count(ModuleResult::Failed), 2u);
    for (const int sound : {0, 2}) {
        EXPECT_TRUE(
            test::FlashHoldsTheImage(sims[static_cast<std::size_t>(sound)]->Flash(), firmware));
        EXPECT_EQ(ProgressOf(ModuleAt(sound + 1)), "done");
    }
    EXPECT_TRUE(ProgressOf(ModuleAt(2)).starts_with("failed: ")) << ProgressOf(ModuleAt(2));
    EXPECT_NE(ProgressOf(ModuleAt(2)).find("; left "), std::string::npos)
        << ProgressOf(ModuleAt(2));
    EXPECT_TRUE(ProgressOf(ModuleAt(4)).starts_with("failed: ")) << ProgressOf(ModuleAt(4));

    const std::string report = dir.File("report.json").string();
    ASSERT_TRUE(window->SaveReport(report));
    const auto rows = nlohmann::json::parse(test::ReadFile(report));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1]["result"], "failed");
    const std::string table = dir.File("table.csv").string();
    ASSERT_TRUE(window->ExportTable(table));
    const std::string csv = test::ReadFile(table);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5);
    EXPECT_NE(csv.find(",done"), std::string::npos);
}

// Stop, by its key or by closing the window and saying yes: every link stops where it is, and
// the modules are left interrupted.
TEST_F(FleetWindowTest, StopMidUpdate) {
    for (const bool byClosing : {false, true}) {
        SCOPED_TRACE(byClosing ? "closing" : "Ctrl+.");
        sims.clear();
        StartModules({{"--latency", "40"}, {"--latency", "40"}});
        OpenWindow();
        Press(QKeySequence::SelectAll);
        PressOnTable(QKeySequence(Qt::CTRL | Qt::Key_U),
                     [&](UpdateFleetDialog& dialog) { ChooseAndAccept(dialog, firmware); });
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return ProgressOf(ModuleAt(2)) == "programming"; }, 20000));
        if (byClosing) {
            test::WhenModalOpens([](QWidget* question) {
                QTest::mouseClick(
                    question->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Yes),
                    Qt::LeftButton);
            });
            window->close();
            EXPECT_FALSE(window->isVisible());
            EXPECT_FALSE(window->Busy());
        } else {
            Press(QKeySequence(Qt::CTRL | Qt::Key_Period));
            ASSERT_TRUE(UpdateEnds(5s));
            EXPECT_EQ(window->LastOutcome()->Count(ModuleResult::Interrupted), 2u);
            EXPECT_TRUE(ProgressOf(ModuleAt(1)).starts_with("interrupted"))
                << ProgressOf(ModuleAt(1));
        }
    }
}

// A file that cannot be programmed is refused in the dialog with the plan's reason, before
// anything is sent.
TEST_F(FleetWindowTest, ThePlanRefusesAFileBeforeAnythingIsSent) {
    test::HexFileWriter bootOnly;
    bootOnly.ExtendedLinear(0x1FC0);
    bootOnly.Data(0, std::vector<std::uint8_t>(16, 0xAB));
    bootOnly.EndOfFile();
    const struct {
        std::string file;
        const char* reason;
    } cases[] = {{dir.Write("boot.hex", bootOnly.Text()), "nothing to verify"},
                 {dir.File("missing.hex").string(), "cannot be read"},
                 {dir.Write("text.hex", "no records here\n"), "no Intel HEX record"}};
    StartModules({{}});
    OpenWindow();
    Press(QKeySequence::SelectAll);
    for (const auto& refused : cases) {
        bool seen = false;
        PressOnTable(QKeySequence(Qt::CTRL | Qt::Key_U), [&](UpdateFleetDialog& dialog) {
            dialog.ChooseFile(refused.file);
            QPushButton* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            EXPECT_FALSE(ok->isEnabled()) << refused.file;
            EXPECT_TRUE(PlanOf(dialog).contains(refused.reason)) << PlanOf(dialog).toStdString();
            seen = true;
            QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return seen && QApplication::activeModalWidget() == nullptr; }, 5000));
    }
    EXPECT_FALSE(window->Busy());
    EXPECT_TRUE(sims[0]->LogLines("wake", "-").empty()) << "nothing was sent";
}

} // namespace
} // namespace ostrel
