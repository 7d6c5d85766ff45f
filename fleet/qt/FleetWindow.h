#pragma once

#include "common/MessageSink.h"
#include "fleet/qt/FleetEngine.h"
#include "fleet/qt/FleetTableModel.h"
#include "ledger/LedgerRecorder.h"

#include <memory>
#include <optional>
#include <vector>

#include <QBasicTimer>
#include <QMainWindow>

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;

namespace ostrel {

class FleetMenus;

// How the fleet window starts.
struct FleetWindowStart {
    bool scan = true;                     // a discovery once the window is shown
    std::vector<DeviceAddress> addresses; // else these are read by unicast
    std::string settingsPath;             // the column layout is remembered there
};

// Every module of the plant in one table, many updated at once: the ledger's modules, the
// scans' and reads' answers, and while an update runs its phase and bar in each row. Work on
// the network runs on the fleet engine's thread; the window only takes its events, twenty times a
// second, and never waits.
class FleetWindow final : public QMainWindow {
    Q_OBJECT

public:
    FleetWindow(FleetWindowStart start, MessageSink& messages);
    ~FleetWindow() override;

    void Scan();
    // Updates (or verifies) the selected modules with the file, after the plan was confirmed.
    void UpdateSelected(bool verify, const std::string& file = {});
    void StartUpdate(bool verify, const std::string& file, const UpdatePlan& plan,
                     FleetPolicy policy);
    void Stop() { engine.Stop(); }
    void SelectAllMatching();
    void Identify(bool on);
    void Setup();
    bool ExportTable(const std::string& path);
    bool SaveReport(const std::string& path);

    FleetTableModel& Model() { return model; }
    QSortFilterProxyModel& Shown() { return *proxy; }
    QTableView& Table() { return *table; }
    QLineEdit& Filter() { return *filter; }
    bool Busy() const { return engine.Busy(); }
    const std::optional<FleetOutcome>& LastOutcome() const { return lastOutcome; }
    // Events handled so far, and how often the table was asked to redraw (for the benchmark).
    std::size_t RedrawsAsked() const { return redraws; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildMenus();
    void TakeEvents();
    void Apply(const EngineEvent& event);
    std::vector<int> SelectedRows() const;
    void Say(const QString& text);
    void Watch();
    void ShowLedger();

    FleetWindowStart start;
    MessageSink& messages;
    LedgerRecorder ledger;
    FleetEngine engine;
    FleetTableModel model;
    QSortFilterProxyModel* proxy;
    QTableView* table;
    QLineEdit* filter;
    QLabel* status;
    std::unique_ptr<FleetMenus> menus;
    QBasicTimer ticks;
    bool shownOnce = false;
    std::optional<FleetOutcome> lastOutcome;
    std::vector<ReportRow> reportRows;
    ReportImage reportImage;
    std::size_t redraws = 0;
};

} // namespace ostrel
