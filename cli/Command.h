#pragma once

#include "cli/Console.h"
#include "cli/LedgerAccess.h"
#include "cli/StopSignals.h"
#include "fleet/ExitCode.h"

namespace ostrel::cli {

// One of the console's commands: it declares its own options on the app when it is made, and
// runs once they are parsed.
class Command {
public:
    virtual ~Command() = default;
    // The command line named it.
    virtual bool Chosen() const = 0;
    virtual ExitCode Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) = 0;
};

} // namespace ostrel::cli
