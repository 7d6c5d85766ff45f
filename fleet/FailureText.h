#pragma once

#include "fleet/ModuleOutcome.h"
#include "fleet/UpdateJob.h"
#include "update/UpdateProcedure.h"

#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// How a failed try ends, in the fleet's own words rather than the window's message boxes.
struct FailureText {
    ModuleResult result = ModuleResult::Failed;
    ExitCode code = ExitCode::Failed;
    std::string error;
};

// Why the procedure failed; messages are what the endpoint said on the way.
FailureText DescribeFailure(const UpdateProcedure& procedure, const UpdateJob& job,
                            const std::vector<std::string>& messages);

// Where a try that ended in the phase left the module.
std::string WhereLeft(std::optional<Phase> phase, UpdateFailure failure);

} // namespace ostrel
