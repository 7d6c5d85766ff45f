// The fleet window's scan of modules behind two interfaces. It broadcasts, so it runs only in
// the namespaces that two-subnets-in-namespaces.sh makes.
#include "fleet/qt/FleetWindow.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

class FleetWindowScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::InALaunchersNetworkNamespace())
            << "the scan broadcasts: run only inside the namespaces the script makes";
        window = std::make_unique<FleetWindow>(FleetWindowStart{}, messages);
        window->show(); // the first scan starts only now
    }
    bool ScanEnds() {
        return QTest::qWaitFor([&] { return !window->Busy(); }, 10000) && (QTest::qWait(250), true);
    }
    // The row of the module of that name.
    const FleetRow* Named(const std::string& name) const {
        for (const FleetRow& row : window->Model().Rows()) {
            if (row.name == name) {
                return &row;
            }
        }
        return nullptr;
    }
    QString Status() const {
        for (const QLabel* label : window->findChildren<QLabel*>()) {
            if (label->accessibleName() == "Status") {
                return label->text();
            }
        }
        return {};
    }

    test::TempDir dir;
    test::MessageRecorder messages;
    std::unique_ptr<FleetWindow> window;
};

TEST_F(FleetWindowScanTest, ShowsBothInterfacesAndMarksWhatIsOdd) {
    ASSERT_TRUE(ScanEnds());
    ASSERT_EQ(window->Model().rowCount(), 4) << Status().toStdString();
    const struct {
        const char* name;
        const char* interfaceName;
        const char* warning; // empty: none
    } expected[] = {{"M1", "eth0", ""},
                    {"M2", "eth1", "Another module answers at this address too"},
                    {"M3", "eth1", "Another module answers at this address too"},
                    {"M4", "eth0", "The address is outside the subnet of eth0"}};
    for (const auto& module : expected) {
        const FleetRow* row = Named(module.name);
        ASSERT_NE(row, nullptr) << module.name;
        EXPECT_EQ(row->interfaceName, module.interfaceName) << module.name;
        EXPECT_EQ(row->warning, module.warning) << module.name;
        EXPECT_TRUE(row->answering);
    }

    // The two at one address are refused before anything is sent; nothing else was selected.
    window->Filter().setText("eth1");
    ASSERT_EQ(window->Shown().rowCount(), 2);
    window->Table().selectAll();
    const std::string firmware = dir.Write("firmware.hex", test::MakeFirmware(1024).Text());
    window->StartUpdate(false, firmware, PlanUpdate(firmware), {});
    EXPECT_FALSE(window->Busy());
    EXPECT_TRUE(Status().contains("another module answers at the same address"))
        << Status().toStdString();
}

TEST_F(FleetWindowScanTest, AnInterfaceChosenInTheMenuScansOnlyThere) {
    ASSERT_TRUE(ScanEnds());
    for (QAction* action : window->findChildren<QAction*>()) {
        action->setChecked(action->text() == "eth1");
    }
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(&window->Table(), Qt::Key_F5);
    ASSERT_TRUE(window->Busy());
    ASSERT_TRUE(ScanEnds());
    EXPECT_TRUE(Named("M2")->answering);
    EXPECT_FALSE(Named("M1")->answering) << "not asked, so not answering this time";
    EXPECT_FALSE(Named("M4")->answering);
}

} // namespace
} // namespace ostrel
