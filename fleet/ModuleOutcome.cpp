#include "fleet/ModuleOutcome.h"

namespace ostrel {

std::string_view PhaseName(Phase phase) {
    switch (phase) {
    case Phase::Wake:
        return "wake";
    case Phase::Check:
        return "check";
    case Phase::Erase:
        return "erase";
    case Phase::Program:
        return "program";
    case Phase::Verify:
        return "verify";
    case Phase::Run:
        return "run";
    case Phase::Confirm:
        return "confirm";
    }
    return "?";
}

std::string_view ResultName(ModuleResult result) {
    switch (result) {
    case ModuleResult::Done:
        return "done";
    case ModuleResult::Unchanged:
        return "unchanged";
    case ModuleResult::Verified:
        return "verified";
    case ModuleResult::Failed:
        return "failed";
    case ModuleResult::Interrupted:
        return "interrupted";
    }
    return "?";
}

} // namespace ostrel
