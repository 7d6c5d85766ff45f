#pragma once

#include "fleet/qt/FleetEngine.h"
#include "fleet/qt/FleetTableModel.h"

#include <QString>

namespace ostrel {

// What an engine event changes in the table: a scan's or a read's answers, or in one module's
// row its phase, its bar, how it ended.
void ApplyToModel(const EngineEvent& event, FleetTableModel& model);
// One line for the status bar at the end of a run.
QString SummaryText(const FleetOutcome& outcome);

} // namespace ostrel
