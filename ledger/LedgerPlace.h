#pragma once

#include <optional>
#include <string>

namespace ostrel {

// Where the ledger lives: --ledger PATH (the console), else OSTREL_LEDGER, else
// $XDG_STATE_HOME/ostrel/ledger.sqlite3 (~/.local/state/ostrel/ when it is unset). "off", in
// either, or --no-ledger: none.
struct LedgerPlace {
    std::optional<std::string> path; // none: no ledger
    bool isDefault = false;          // its folder may be made

    static LedgerPlace Choose(const std::optional<std::string>& option, bool noLedger);
};

} // namespace ostrel
