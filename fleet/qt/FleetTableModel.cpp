#include "fleet/qt/FleetTableModel.h"

#include "common/DottedAddress.h"
#include "common/SafeText.h"
#include "devices/MacText.h"
#include "ledger/Ledger.h"

#include <algorithm>

#include <QBrush>
#include <QDateTime>
#include <QPalette>

namespace ostrel {

namespace {

QString Shown(const std::string& network) {
    // Names come from the network: shown as the terminal would print them, harmless.
    return QString::fromStdString(SafeText(network));
}

// The ledger's UTC stamps as the clock on the wall shows them, to the second.
QString LocalTime(const std::string& stamp) {
    const QDateTime time = QDateTime::fromString(QString::fromStdString(stamp), Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                          : QString::fromStdString(stamp);
}

// The ledger keeps addresses as they were written: dotted, or empty when none was known.
DeviceAddress AddressOf(const std::string& dotted) {
    std::string notDotted;
    return ParseDottedAddress(dotted, notDotted).value_or(0);
}

void Fill(FleetRow& row, const ManagementReply& reply, const std::string& interfaceName) {
    row.mac = MacText(reply.macAddress);
    row.address = reply.Address();
    row.name = reply.moduleName;
    row.version = reply.versionText;
    row.identification = reply.DiscoveryIdentification();
    row.interfaceName = interfaceName;
    row.dhcp = reply.DhcpEnabled();
    row.lastSeen = LedgerTimestamp();
    row.answering = true;
}

} // namespace

int FleetTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int FleetTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QString FleetTableModel::Text(const FleetRow& row, int column) const {
    switch (column) {
    case Name:
        return Shown(row.name);
    case Mac:
        return QString::fromStdString(row.mac);
    case Address:
        return row.address != 0 ? QString::fromStdString(FormatDottedQuad(row.address)) : QString();
    case Version:
        return Shown(row.version);
    case Identification:
        return Shown(row.identification);
    case Interface:
        return QString::fromStdString(row.interfaceName);
    case Dhcp:
        return row.mac.empty() ? QString() : row.dhcp ? tr("on") : tr("off");
    case LastSeen:
        return LocalTime(row.lastSeen);
    case LastUpdate:
        return LocalTime(row.lastUpdate);
    case Result:
        return QString::fromStdString(row.lastResult);
    case Progress:
        if (!row.outcome.empty()) {
            return QString::fromStdString(row.outcome);
        }
        return !row.phase.empty() ? QString::fromStdString(row.phase)
               : row.answering    ? QString()
                                  : tr("not answering");
    }
    return {};
}

QVariant FleetTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const FleetRow& row = rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return Text(row, index.column());
    case SortRole:
        return index.column() == Address ? QVariant(row.address)
                                         : QVariant(Text(row, index.column()));
    case Qt::ToolTipRole:
        if (index.column() == Progress && !row.outcome.empty()) {
            return QString::fromStdString(row.outcome); // longer than its cell, often
        }
        return row.warning.empty() ? QVariant() : QString::fromStdString(row.warning);
    case Qt::ForegroundRole:
        if (!row.answering) {
            return QBrush(QPalette().color(QPalette::Disabled, QPalette::Text));
        }
        return row.warning.empty() ? QVariant() : QBrush(Qt::darkRed);
    case Qt::DecorationRole:
        return index.column() == Name && !row.warning.empty() ? QVariant(QStringLiteral("⚠"))
                                                              : QVariant();
    case PercentRole:
        return row.percent;
    default:
        return {};
    }
}

QVariant FleetTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    static const char* const names[Columns] = {
        QT_TR_NOOP("Name"),           QT_TR_NOOP("MAC"),
        QT_TR_NOOP("Address"),        QT_TR_NOOP("Version"),
        QT_TR_NOOP("Identification"), QT_TR_NOOP("Interface"),
        QT_TR_NOOP("DHCP"),           QT_TR_NOOP("Last seen"),
        QT_TR_NOOP("Last update"),    QT_TR_NOOP("Result"),
        QT_TR_NOOP("Progress")};
    return section >= 0 && section < Columns ? tr(names[section]) : QVariant();
}

FleetRow& FleetTableModel::RowFor(const std::string& mac, DeviceAddress address) {
    auto found = std::ranges::find_if(rows, [&](const FleetRow& row) {
        return !mac.empty() ? row.mac == mac : row.mac.empty() && row.address == address;
    });
    if (found == rows.end() && !mac.empty()) {
        // A module first named by its address now tells its MAC.
        found = std::ranges::find_if(
            rows, [&](const FleetRow& row) { return row.mac.empty() && row.address == address; });
    }
    if (found != rows.end()) {
        return *found;
    }
    const int at = static_cast<int>(rows.size());
    beginInsertRows({}, at, at);
    rows.push_back({});
    rows.back().mac = mac;
    rows.back().address = address;
    endInsertRows();
    return rows.back();
}

void FleetTableModel::ShowLedger(const std::vector<InventoryRow>& inventory) {
    for (const InventoryRow& known : inventory) {
        FleetRow& row = RowFor(known.last.mac, AddressOf(known.last.address));
        row.name = TextOf(known.last.name);
        row.version = TextOf(known.last.version);
        row.identification = TextOf(known.last.identification);
        row.interfaceName = known.last.interfaceName;
        row.dhcp = known.last.dhcp;
        row.lastSeen = known.lastSeen;
        row.lastUpdate = known.lastUpdate;
        row.lastResult = known.lastResult;
        row.answering = std::ranges::find(known.changes, "not answering") == known.changes.end();
    }
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, Columns - 1));
}

void FleetTableModel::ShowScan(const std::vector<DiscoveredModule>& heard) {
    for (FleetRow& row : rows) {
        row.answering = false;
    }
    for (const DiscoveredModule& module : heard) {
        FleetRow& row = RowFor(MacText(module.reply.macAddress), module.reply.Address());
        Fill(row, module.reply, module.interfaceName);
        row.warning.clear();
        row.addressShared = module.addressShared;
        if (module.addressShared) {
            row.warning = tr("Another module answers at this address too").toStdString();
        }
        if (module.outsideSubnet) {
            row.warning += (row.warning.empty() ? "" : "; ") +
                           tr("The address is outside the subnet of %1")
                               .arg(QString::fromStdString(module.interfaceName))
                               .toStdString();
        }
    }
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, Columns - 1));
}

void FleetTableModel::ShowRead(DeviceAddress address, const std::optional<ManagementReply>& reply) {
    FleetRow& row = RowFor(reply ? MacText(reply->macAddress) : std::string(), address);
    if (reply) {
        Fill(row, *reply, row.interfaceName);
        row.address = address; // asked at this address, it answers here
    } else {
        row.answering = false;
    }
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, Columns - 1));
}

void FleetTableModel::ShowChanges() {
    if (changedLast >= 0) {
        Q_EMIT dataChanged(index(changedFirst, 0), index(changedLast, Columns - 1));
    }
    changedFirst = std::numeric_limits<int>::max();
    changedLast = -1;
}

std::optional<int> FleetTableModel::RowOf(DeviceAddress address) const {
    const auto found =
        std::ranges::find_if(rows, [&](const FleetRow& row) { return row.address == address; });
    return found != rows.end() ? std::optional(static_cast<int>(found - rows.begin()))
                               : std::nullopt;
}

} // namespace ostrel
