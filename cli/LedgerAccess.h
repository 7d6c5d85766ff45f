#pragma once

#include "cli/Console.h"
#include "ledger/LedgerRecorder.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace ostrel::cli {

// The console's ledger options (--ledger PATH, --no-ledger, --require-ledger) and the ledger
// they choose, opened when a command first asks for it, so that a command that records
// nothing never touches it.
class LedgerAccess {
public:
    explicit LedgerAccess(CLI::App& app);

    // The recorder for a command that records: without a ledger it records nothing. Nothing
    // when --require-ledger was given and the ledger cannot be had (then it says why).
    LedgerRecorder* ForRecording(Console& console);
    // The ledger for a command that reads it; nothing, with the reason said, when there is none.
    Ledger* ForReading(Console& console);

private:
    LedgerRecorder& Opened(Console& console);

    std::string pathText;
    bool off = false;
    bool required = false;
    bool opening = false;
    CLI::Option* pathOption = nullptr;
    std::optional<LedgerRecorder> recorder;
};

} // namespace ostrel::cli
