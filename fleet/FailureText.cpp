#include "fleet/FailureText.h"

#include "common/HexText.h"

namespace ostrel {

namespace {

const Attempts& AttemptsOf(BootCommand command, const UpdateTiming& timing) {
    switch (command) {
    case BootCommand::Erase:
        return timing.erase;
    case BootCommand::Program:
        return timing.program;
    default:
        return timing.verify;
    }
}

} // namespace

FailureText DescribeFailure(const UpdateProcedure& procedure, const UpdateJob& job,
                            const std::vector<std::string>& messages) {
    switch (procedure.Failure()) {
    case UpdateFailure::HexFileUnreadable:
        return {ModuleResult::Failed, ExitCode::BadFile, "cannot read " + job.file};
    case UpdateFailure::NothingToProgram:
        return {ModuleResult::Failed, ExitCode::BadFile, job.file + " holds nothing to program"};
    case UpdateFailure::PortUnavailable: {
        std::string why = "cannot open a UDP socket to the module";
        for (const std::string& message : messages) {
            why += ": " + message;
        }
        return {ModuleResult::Failed, ExitCode::Failed, why};
    }
    case UpdateFailure::NoAnswer: {
        const BootCommand command = procedure.TimedOutCommand();
        const Attempts& given = AttemptsOf(command, job.options.timing);
        return {ModuleResult::Failed, ExitCode::NoAnswer,
                "no answer to " + std::string(BootCommandName(command)) + " (" +
                    std::to_string(given.count) + " attempts of at least " +
                    std::to_string(given.timeout.count()) + " ms)"};
    }
    case UpdateFailure::CrcMismatch: {
        const auto reported = procedure.ModuleCrc();
        return {ModuleResult::Failed, ExitCode::CrcMismatch,
                "the module's CRC " + (reported ? HexText(*reported, 4) : std::string("(none)")) +
                    " differs from the image's " + HexText(job.plan.verify.crc, 4)};
    }
    case UpdateFailure::Cancelled:
        return {ModuleResult::Interrupted, ExitCode::Interrupted, "cancelled"};
    case UpdateFailure::None:
        break;
    }
    return {ModuleResult::Failed, ExitCode::Failed, "the update failed"};
}

std::string WhereLeft(std::optional<Phase> phase, UpdateFailure failure) {
    if (!phase) {
        return "untouched";
    }
    switch (*phase) {
    case Phase::Wake:
    case Phase::Check:
        return "in its bootloader, not erased";
    case Phase::Erase:
        return "in its bootloader, perhaps erased";
    case Phase::Program:
        return "in its bootloader, partly programmed";
    case Phase::Verify:
        return failure == UpdateFailure::CrcMismatch
                   ? "in its bootloader, its flash not the image"
                   : "in its bootloader, programmed but not verified";
    case Phase::Run:
    case Phase::Confirm:
        return "started";
    }
    return "unknown";
}

} // namespace ostrel
