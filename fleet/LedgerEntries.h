#pragma once

#include "devices/DiscoveryScan.h"
#include "devices/SetupChange.h"
#include "ledger/LedgerRecords.h"

#include <string_view>
#include <vector>

namespace ostrel {

// The modules a discovery heard, as the ledger keeps them.
std::vector<Sighting> SightingsOf(const std::vector<DiscoveredModule>& heard);
Sighting SightingOf(const ManagementReply& reply, const std::string& interfaceName);
// Settings as the ledger keeps them: the module's as it reported them, and what was written.
std::string SettingsText(const ReportedSettings& reported);
std::string SettingsText(const ModuleConfig& written);

} // namespace ostrel
