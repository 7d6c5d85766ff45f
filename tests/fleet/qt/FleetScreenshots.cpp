// Pictures of the fleet window with eight simulated modules in several states, and of its update
// dialog: fleet-screenshots <folder>. The modules are read by unicast on loopback; nothing scans.
#include "common/DottedAddress.h"
#include "fleet/qt/FleetWindow.h"
#include "fleet/qt/UpdateFleetDialog.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/qt/Controls.h"

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSortFilterProxyModel>
#include <QTableView>

namespace {

using namespace ostrel;

bool Save(QWidget& widget, const QString& path) {
    QApplication::processEvents();
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
    return saved;
}

bool Until(const std::function<bool()>& done, int milliseconds) {
    return QTest::qWaitFor(done, milliseconds);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    // Seven modules answer; the eighth, at .8, is on the plant but does not.
    const std::vector<std::vector<std::string>> modules = {
        {"--name", "PRESS-1", "--app-version", "1.06", "--ident", "Hall A"},
        {"--name", "PRESS-2", "--app-version", "1.06", "--ident", "Hall A"},
        {"--name", "OVEN-1", "--app-version", "1.05", "--ident", "Hall B", "--bad-verify"},
        {"--name", "PUMP-1", "--app-version", "1.06", "--ident", "Cellar", "--latency", "25"},
        {"--name", "PUMP-2", "--app-version", "1.04", "--ident", "Cellar", "--latency", "40"},
        {"--name", "FAN-1", "--app-version", "1.10", "--ident", "Roof"},
        {"--name", "GATE-1", "--app-version", "1.06", "--ident", "Yard", "--dhcp", "1"}};
    std::vector<std::unique_ptr<test::SimProcess>> sims;
    FleetWindowStart start{false, {}, {}};
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const std::string address = "127.0.44." + std::to_string(i + 1);
        std::vector<std::string> args{"--mac", "00-50-C2-00-44-1" + std::to_string(i)};
        args.insert(args.end(), modules[i].begin(), modules[i].end());
        sims.push_back(std::make_unique<test::SimProcess>(test::SimAt(address, args)));
    }
    std::string error;
    for (int n = 1; n <= 8; ++n) {
        start.addresses.push_back(*ParseModuleAddress("127.0.44." + std::to_string(n), error));
    }
    test::TempDir dir;
    const std::string firmware =
        dir.Write("firmware-1.10.hex", test::MakeFirmware(48 * 1024).Text());
    test::MessageRecorder messages;
    FleetWindow window(start, messages);
    window.resize(1180, 350);
    window.show();
    bool saved = Until([&] { return window.Model().rowCount() == 8 && !window.Busy(); }, 8000);
    QTest::qWait(200);
    window.Table().resizeColumnsToContents();
    window.Table().horizontalHeader()->resizeSection(FleetTableModel::Progress, 260);

    UpdateFleetDialog dialog(false, 7, firmware, &window);
    dialog.show();
    saved = saved && Save(dialog, folder + QStringLiteral("/fleet-update-dialog.png"));
    dialog.close();

    // Every module that answered, FAN-1 already on the file's version.
    QItemSelectionModel& selection = *window.Table().selectionModel();
    for (int row = 0; row < window.Shown().rowCount(); ++row) {
        const QModelIndex index = window.Shown().index(row, 0);
        if (window.Model().Row(window.Shown().mapToSource(index).row()).answering) {
            selection.select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    FleetPolicy policy;
    policy.unlessVersion = "1.10";
    window.StartUpdate(false, firmware, PlanUpdate(firmware), policy);
    const auto progressOf = [&](int module) { return window.Model().Row(module).percent; };
    saved = saved && Until([&] { return progressOf(3) >= 40 && progressOf(4) >= 10; }, 30000);
    selection.clear();
    saved = saved && Save(window, folder + QStringLiteral("/fleet-window.png"));
    window.Stop();
    saved = saved && Until([&] { return !window.Busy(); }, 10000);
    return saved ? 0 : 1;
}
