#pragma once

#include "cli/Console.h"
#include "update/UpdatePlan.h"

#include <optional>
#include <string>

namespace ostrel::cli {

// Reads a HEX file's plan and says, once and clearly, why it cannot be programmed: missing,
// unreadable, a folder, or holding no record. Nothing when it cannot.
std::optional<UpdatePlan> PlanOrSayWhy(const std::string& file, Console& console);

// Why a readable file cannot be programmed, for a user; empty when it can.
std::string WhyNotProgrammable(const std::string& file, const UpdatePlan& plan);

} // namespace ostrel::cli
