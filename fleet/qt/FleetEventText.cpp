#include "fleet/qt/FleetEventText.h"

#include "ledger/Ledger.h"

#include <QObject>

namespace ostrel {

namespace {

std::string PhaseText(Phase phase) {
    switch (phase) {
    case Phase::Wake:
        return QObject::tr("waking").toStdString();
    case Phase::Check:
        return QObject::tr("checking").toStdString();
    case Phase::Erase:
        return QObject::tr("erasing").toStdString();
    case Phase::Program:
        return QObject::tr("programming").toStdString();
    case Phase::Verify:
        return QObject::tr("verifying").toStdString();
    case Phase::Run:
        return QObject::tr("starting").toStdString();
    case Phase::Confirm:
        return QObject::tr("confirming").toStdString();
    }
    return {};
}

void ApplyToRow(const EngineEvent& event, FleetRow& row) {
    switch (event.kind) {
    case EngineEvent::Kind::Start:
        row.phase = QObject::tr("starting").toStdString();
        row.outcome.clear();
        break;
    case EngineEvent::Kind::Phase:
        row.phase = PhaseText(event.phase);
        row.percent = event.phase == Phase::Program ? 0 : -1;
        break;
    case EngineEvent::Kind::Progress:
        row.percent =
            event.total == 0
                ? 0
                : static_cast<int>(100ull * std::min(event.done, event.total) / event.total);
        break;
    case EngineEvent::Kind::TryAgain:
        row.phase = QObject::tr("trying again: %1")
                        .arg(QString::fromStdString(event.outcome.error))
                        .toStdString();
        row.percent = -1;
        break;
    case EngineEvent::Kind::End: {
        const ModuleOutcome& outcome = event.outcome;
        row.percent = -1;
        row.phase.clear();
        row.outcome = std::string(ResultName(outcome.result));
        if (!outcome.error.empty()) {
            row.outcome += ": " + outcome.error + "; left " + outcome.leftIn;
        }
        row.lastResult = std::string(ResultName(outcome.result));
        row.lastUpdate = LedgerTimestamp();
        if (!outcome.version.empty()) {
            row.version = outcome.version;
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

void ApplyToModel(const EngineEvent& event, FleetTableModel& model) {
    switch (event.kind) {
    case EngineEvent::Kind::Scanned:
        model.ShowScan(event.heard);
        return;
    case EngineEvent::Kind::Read:
        for (std::size_t i = 0; i < event.asked.size(); ++i) {
            model.ShowRead(event.asked[i], event.replies[i]);
        }
        return;
    default:
        break;
    }
    if (const auto row = model.RowOf(event.module)) {
        model.Update(*row, [&](FleetRow& shown) { ApplyToRow(event, shown); });
    }
}

QString SummaryText(const FleetOutcome& outcome) {
    return QObject::tr("%1 module(s): %2 done, %3 unchanged, %4 verified, %5 failed, "
                       "%6 interrupted")
               .arg(outcome.modules)
               .arg(outcome.Count(ModuleResult::Done))
               .arg(outcome.Count(ModuleResult::Unchanged))
               .arg(outcome.Count(ModuleResult::Verified))
               .arg(outcome.Count(ModuleResult::Failed))
               .arg(outcome.Count(ModuleResult::Interrupted)) +
           (outcome.failed.empty() ? QString()
                                   : QStringLiteral(": ") + QString::fromStdString(outcome.failed));
}

} // namespace ostrel
