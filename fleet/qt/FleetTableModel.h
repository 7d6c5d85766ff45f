#pragma once

#include "devices/DiscoveryScan.h"
#include "fleet/qt/FleetRow.h"
#include "ledger/LedgerRecords.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include <QAbstractTableModel>

namespace ostrel {

// Every module of the plant, one row each, by MAC (or by address until a read tells its MAC):
// first from the ledger, then from each scan or read, and during an update from its events.
// A module the ledger knows that did not answer the last scan stays, greyed, "not answering".
class FleetTableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        Name,
        Mac,
        Address,
        Version,
        Identification,
        Interface,
        Dhcp,
        LastSeen,
        LastUpdate,
        Result,
        Progress,
        Columns
    };
    // The progress of a row, for the delegate that draws its bar: -1 for none.
    static constexpr int PercentRole = Qt::UserRole + 1;
    // What a column sorts by: addresses as numbers, the rest as shown.
    static constexpr int SortRole = Qt::UserRole + 2;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void ShowLedger(const std::vector<InventoryRow>& inventory);
    // A scan's answers: those not among them do not answer.
    void ShowScan(const std::vector<DiscoveredModule>& heard);
    // Modules named by address, read by unicast: a reply, or nothing for no answer.
    void ShowRead(DeviceAddress address, const std::optional<ManagementReply>& reply);

    const FleetRow& Row(int row) const { return rows[static_cast<std::size_t>(row)]; }
    const std::vector<FleetRow>& Rows() const { return rows; }
    std::optional<int> RowOf(DeviceAddress address) const;
    // Changes a row in place; the views hear of it at the next ShowChanges, once for every
    // change since the last, so that a thousand events cost one redraw.
    template <typename Change>
    void Update(int row, Change change) {
        change(rows[static_cast<std::size_t>(row)]);
        changedFirst = std::min(changedFirst, row);
        changedLast = std::max(changedLast, row);
    }
    void ShowChanges();

private:
    FleetRow& RowFor(const std::string& mac, DeviceAddress address);
    QString Text(const FleetRow& row, int column) const;

    std::vector<FleetRow> rows;
    int changedFirst = std::numeric_limits<int>::max();
    int changedLast = -1;
};

} // namespace ostrel
