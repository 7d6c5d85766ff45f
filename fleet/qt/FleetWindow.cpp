#include "fleet/qt/FleetWindow.h"

#include "common/Version.h"
#include "devices/IdentifySender.h"
#include "devices/MacText.h"
#include "devices/NetworkInterfaces.h"
#include "devices/qt/SetupDialog.h"
#include "fleet/FleetReport.h"
#include "fleet/LedgerEntries.h"
#include "fleet/qt/FleetEventText.h"
#include "fleet/qt/FleetMenus.h"
#include "fleet/qt/ProgressDelegate.h"
#include "fleet/qt/TableExport.h"
#include "fleet/qt/UpdateFleetDialog.h"
#include "platform/PathText.h"

#include <cstdio>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QStatusBar>
#include <QTableView>
#include <QTimerEvent>
#include <QToolBar>

namespace ostrel {

namespace {

constexpr auto tickPeriod = std::chrono::milliseconds(50); // twenty redraws a second at most

} // namespace

FleetWindow::FleetWindow(FleetWindowStart chosen, MessageSink& sink)
    : start(std::move(chosen)), messages(sink),
      ledger(LedgerPlace::Choose(std::nullopt, false),
             RecordedBy::ThisProcess("ostrel-fleet", programVersion), [](const std::string& text) {
                 std::fprintf(stderr, "ostrel-fleet: warning: %s\n", text.c_str());
             }) {
    setWindowTitle(tr("Ostrel fleet"));
    setAcceptDrops(true);
    proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(&model);
    proxy->setFilterKeyColumn(-1);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->setSortCaseSensitivity(Qt::CaseInsensitive);
    proxy->setSortRole(FleetTableModel::SortRole);
    table = new QTableView(this);
    table->setModel(proxy);
    table->sortByColumn(FleetTableModel::Address, Qt::AscendingOrder);
    table->setSortingEnabled(true);
    table->setWordWrap(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setItemDelegateForColumn(FleetTableModel::Progress, new ProgressDelegate(table));
    table->setAccessibleName(tr("Modules"));
    table->horizontalHeader()->setStretchLastSection(true);
    setCentralWidget(table);
    filter = new QLineEdit(this);
    filter->setPlaceholderText(tr("Filter: any column"));
    filter->setAccessibleName(tr("Filter"));
    filter->setClearButtonEnabled(true);
    connect(filter, &QLineEdit::textChanged, proxy, &QSortFilterProxyModel::setFilterFixedString);
    QToolBar* bar = addToolBar(tr("Filter"));
    bar->addWidget(filter);
    status = new QLabel(this);
    status->setAccessibleName(tr("Status"));
    statusBar()->addWidget(status, 1);
    BuildMenus();
    setTabOrder(filter, table);
    if (!start.settingsPath.empty()) {
        QSettings settings(QString::fromStdString(start.settingsPath), QSettings::IniFormat);
        table->horizontalHeader()->restoreState(settings.value("table/header").toByteArray());
    }
    ShowLedger();
}

FleetWindow::~FleetWindow() {
    if (!start.settingsPath.empty()) {
        QSettings settings(QString::fromStdString(start.settingsPath), QSettings::IniFormat);
        settings.setValue("table/header", table->horizontalHeader()->saveState());
    }
}

void FleetWindow::ShowLedger() {
    if (Ledger* known = ledger.Get()) {
        model.ShowLedger(known->Inventory());
    }
}

void FleetWindow::BuildMenus() {
    const auto save = [this](const QString& title, const QString& kinds, auto write) {
        const QString path = QFileDialog::getSaveFileName(this, title, QString(), kinds);
        if (!path.isEmpty() && !write(path.toStdString())) {
            messages.Show({tr("%1 could not be written.").arg(path).toStdString(), {}, {}});
        }
    };
    FleetMenus::Handlers on;
    on.scan = [this] { Scan(); };
    on.update = [this] { UpdateSelected(false); };
    on.verify = [this] { UpdateSelected(true); };
    on.stop = [this] { Stop(); };
    on.saveReport = [this, save] {
        save(tr("Save report"), tr("Reports (*.json *.csv)"),
             [this](const std::string& path) { return SaveReport(path); });
    };
    on.exportTable = [this, save] {
        save(tr("Export table"), tr("CSV (*.csv)"),
             [this](const std::string& path) { return ExportTable(path); });
    };
    on.quit = [this] { close(); };
    on.identifyOn = [this] { Identify(true); };
    on.identifyOff = [this] { Identify(false); };
    on.setup = [this] { Setup(); };
    on.findFilter = [this] { filter->setFocus(); };
    on.selectAll = [this] { SelectAllMatching(); };
    menus = std::make_unique<FleetMenus>(*this, on);
}

void FleetWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce) {
        return;
    }
    shownOnce = true;
    // Nothing is asked of the network before there is a window to show the answers.
    if (!start.addresses.empty()) {
        engine.Read(start.addresses);
        Watch();
    } else if (start.scan) {
        Scan();
    }
}

void FleetWindow::Watch() {
    if (!ticks.isActive()) {
        ticks.start(static_cast<int>(tickPeriod.count()), this);
    }
}

void FleetWindow::Scan() {
    if (BroadcastInterfaces().empty()) {
        Say(tr("No interface here is up and can broadcast (IPv4): nothing was scanned. The "
               "table shows the modules the ledger knows."));
        return;
    }
    DiscoveryChoice choice;
    choice.interfaces = menus->ChosenInterfaces();
    if (engine.Scan(choice)) {
        Say(tr("Scanning…"));
        Watch();
    }
}

std::vector<int> FleetWindow::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedRows()) {
        rows.push_back(proxy->mapToSource(index).row());
    }
    return rows;
}

void FleetWindow::SelectAllMatching() {
    table->selectAll();
}

void FleetWindow::UpdateSelected(bool verify, const std::string& file) {
    const auto rows = SelectedRows();
    if (rows.empty() || engine.Busy()) {
        Say(rows.empty() ? tr("Select the modules first.") : tr("An update is running."));
        return;
    }
    UpdateFleetDialog dialog(verify, static_cast<int>(rows.size()), file, this);
    if (dialog.exec() == QDialog::Accepted && dialog.Plan()) {
        StartUpdate(verify, dialog.File(), *dialog.Plan(), dialog.Policy());
    }
}

void FleetWindow::StartUpdate(bool verify, const std::string& file, const UpdatePlan& plan,
                              FleetPolicy policy) {
    std::vector<FleetTarget> targets;
    QStringList refused;
    for (const int row : SelectedRows()) {
        const FleetRow& module = model.Row(row);
        if (module.addressShared) {
            refused << QString::fromStdString(FormatDottedQuad(module.address));
            continue;
        }
        targets.push_back({module.address, std::nullopt, module.name, module.version});
        if (const auto mac = ParseMac(module.mac)) {
            targets.back().mac = *mac;
        }
        model.Update(row, [](FleetRow& shown) {
            shown.phase = "waiting";
            shown.outcome.clear();
            shown.percent = -1;
        });
    }
    model.ShowChanges();
    if (!refused.isEmpty()) {
        Say(tr("Not updated, another module answers at the same address: %1")
                .arg(refused.join(QStringLiteral(", "))));
    }
    if (targets.empty()) {
        return;
    }
    UpdateJob job{file, plan, {}, true};
    job.options.mode = verify ? UpdateMode::VerifyOnly : UpdateMode::Program;
    engine.Update(std::move(job), std::move(targets), std::move(policy),
                  Sha256OfFile(file).value_or(""));
    menus->SaveReport()->setEnabled(false);
    Watch();
}

void FleetWindow::Identify(bool on) {
    const QModelIndex current = proxy->mapToSource(table->currentIndex());
    if (!current.isValid()) {
        return;
    }
    const DeviceAddress address = model.Row(current.row()).address;
    SendIdentify(address, on, messages);
    ledger.RecordIdentify({LedgerTimestamp(), FormatDottedQuad(address), on});
}

void FleetWindow::Setup() {
    const QModelIndex current = proxy->mapToSource(table->currentIndex());
    if (!current.isValid() || engine.Busy()) {
        return;
    }
    const DeviceAddress address = model.Row(current.row()).address;
    SetupDialog setup(address, messages, this);
    setup.DoModal();
    if (setup.Written()) {
        ledger.RecordSettingsWrite({LedgerTimestamp(), FormatDottedQuad(address),
                                    model.Row(current.row()).mac, SettingsText(setup.Reported()),
                                    SettingsText(*setup.Written()), "written"});
    }
}

bool FleetWindow::ExportTable(const std::string& path) {
    return WriteTableCsv(*proxy, path);
}

bool FleetWindow::SaveReport(const std::string& path) {
    const auto format = ReportFormatOf(path);
    std::string error;
    return format && WriteReport(path, *format, reportImage, reportRows, error);
}

void FleetWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != ticks.timerId()) {
        QMainWindow::timerEvent(event);
        return;
    }
    const bool running = engine.Busy();
    TakeEvents();
    if (!running) {
        ticks.stop();
    }
}

void FleetWindow::Apply(const EngineEvent& event) {
    switch (event.kind) {
    case EngineEvent::Kind::Notice:
        Say(QString::fromStdString(event.text));
        break;
    case EngineEvent::Kind::Scanned:
        ApplyToModel(event, model);
        if (event.failure == ExitCode::Done) {
            Say(tr("%n module(s) answered", "", static_cast<int>(event.heard.size())));
        } // else the notice before it said why
        break;
    case EngineEvent::Kind::Ended:
        lastOutcome = event.fleet;
        reportRows = event.rows;
        reportImage = event.image;
        menus->SaveReport()->setEnabled(true);
        Say(SummaryText(event.fleet));
        break;
    default:
        ApplyToModel(event, model);
        break;
    }
}

void FleetWindow::TakeEvents() {
    const auto events = engine.Take();
    for (const EngineEvent& event : events) {
        Apply(event);
    }
    model.ShowChanges();
    if (!events.empty()) {
        ++redraws;
    }
}

void FleetWindow::Say(const QString& text) {
    status->setText(text);
}

void FleetWindow::closeEvent(QCloseEvent* event) {
    if (engine.Busy()) {
        const auto answer = QMessageBox::question(
            this, tr("Ostrel fleet"), tr("An update is running. Stop every link and close?"));
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        engine.Stop();
        while (engine.Busy()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        TakeEvents();
    }
    event->accept();
}

void FleetWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void FleetWindow::dropEvent(QDropEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile()) {
        UpdateSelected(false, platform::ResolveChosenPath(urls.front().toLocalFile()));
    }
}

} // namespace ostrel
