#include "sim/BootloaderHandler.h"

#include "sim/ReplyFramer.h"

#include <cstdio>
#include <string>

namespace ostrel::sim {

namespace {

constexpr std::uint16_t BAD_VERIFY_XOR = 0x5A5A;

std::string_view DeframeReason(DeframeStatus status) {
    switch (status) {
    case DeframeStatus::BadCrc:
        return " reason=crc";
    case DeframeStatus::TooShort:
        return " reason=short";
    case DeframeStatus::TooLong:
        return " reason=long";
    case DeframeStatus::Incomplete:
        return " reason=partial";
    case DeframeStatus::NoFrame:
        return " reason=noframe";
    case DeframeStatus::Frame:
        break;
    }
    return {};
}

bool Is(std::uint8_t code, BootCommand command) {
    return code == static_cast<std::uint8_t>(command);
}

} // namespace

BootloaderHandler::BootloaderHandler(const SimOptions& options)
    : loseErases(options.loseErases), powerLossAfter(options.powerLossAfter),
      badVerify(options.badVerify) {}

void BootloaderHandler::PowerCycle() {
    deframer.Reset();
    bootloader.PowerCycle();
}

BootStep BootloaderHandler::Handle(std::span<const std::uint8_t> datagram, FaultInjector& faults,
                                   LogEntry& entry) {
    entry.kind = "boot";
    // Deframed on a copy first: a datagram that is lost must leave no trace in the deframer,
    // yet its log line should still name the command.
    CommandDeframer next = deframer;
    const DeframeResult frame = next.Feed(datagram);
    const bool good = frame.status == DeframeStatus::Frame;
    entry.command = good ? BootCommandName(frame.payload[0]) : "badframe";

    if (const auto reason = faults.Lose()) {
        entry.action = "dropped";
        entry.details = " reason=" + std::string(*reason);
        return {};
    }
    deframer = std::move(next);
    if (!good) {
        entry.details = DeframeReason(frame.status);
        return {};
    }
    if (const auto reason = CommandFault(frame.payload[0], faults)) {
        entry.action = "dropped";
        entry.details = " reason=" + std::string(*reason);
        return {};
    }
    return Execute(frame.payload, entry);
}

std::optional<std::string_view> BootloaderHandler::CommandFault(std::uint8_t code,
                                                                FaultInjector& faults) {
    if (Is(code, BootCommand::Erase) && erasesLost < loseErases) {
        ++erasesLost;
        return "lose-erases";
    }
    if (faults.DropFirst("boot:" + std::to_string(code))) {
        return "drop-first";
    }
    return std::nullopt;
}

BootStep BootloaderHandler::Execute(std::span<const std::uint8_t> payload, LogEntry& entry) {
    BootOutcome outcome = bootloader.Execute(payload);
    entry.details = std::move(outcome.details);
    BootStep step;
    if (Is(payload[0], BootCommand::Program) && ++programsExecuted == powerLossAfter) {
        entry.action = "stored";
        entry.details += " fault=power-loss";
        step.powerLoss = true;
        return step;
    }
    if (outcome.reply) {
        if (badVerify && Is(payload[0], BootCommand::Verify)) {
            (*outcome.reply)[1] ^= BAD_VERIFY_XOR & 0xFF;
            (*outcome.reply)[2] ^= BAD_VERIFY_XOR >> 8;
            char sent[40];
            std::snprintf(sent, sizeof sent, " fault=bad-verify sent=0x%02X%02X",
                          unsigned{(*outcome.reply)[2]}, unsigned{(*outcome.reply)[1]});
            entry.details += sent;
        }
        step.reply = FrameReply(*outcome.reply);
        entry.action = "answered";
        entry.details += " reply=" + std::to_string(step.reply.size());
    }
    if (outcome.run) {
        deframer.Reset();
        entry.action = "done";
        step.run = true;
    }
    return step;
}

} // namespace ostrel::sim
