#include "ledger/LedgerPlace.h"

#include <cstdlib>

namespace ostrel {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

LedgerPlace LedgerPlace::Choose(const std::optional<std::string>& option, bool noLedger) {
    const std::string chosen = option ? *option : Variable("OSTREL_LEDGER");
    if (noLedger || chosen == "off") {
        return {};
    }
    if (!chosen.empty()) {
        return {chosen, false};
    }
    std::string state = Variable("XDG_STATE_HOME");
    if (state.empty()) {
        const std::string home = Variable("HOME");
        if (home.empty()) {
            return {};
        }
        state = home + "/.local/state";
    }
    return {state + "/ostrel/ledger.sqlite3", true};
}

} // namespace ostrel
