#include "cli/LedgerAccess.h"

#include "common/Version.h"

namespace ostrel::cli {

LedgerAccess::LedgerAccess(CLI::App& app) {
    pathOption = app.add_option("--ledger", pathText,
                                "the ledger file (OSTREL_LEDGER; "
                                "$XDG_STATE_HOME/ostrel/ledger.sqlite3)");
    app.add_flag("--no-ledger", off, "record nothing in the ledger");
    app.add_flag("--require-ledger", required,
                 "fail before anything is sent when the ledger cannot be used");
}

LedgerRecorder& LedgerAccess::Opened(Console& console) {
    if (!recorder) {
        const auto option = pathOption->count() > 0 ? std::optional(pathText) : std::nullopt;
        // Where the ledger must be had, failing to open it is the error said below.
        opening = true;
        recorder.emplace(LedgerPlace::Choose(option, off),
                         RecordedBy::ThisProcess("ostrel-cli", programVersion),
                         [&console, this](const std::string& text) {
                             if (!(opening && required)) {
                                 console.Warn(text);
                             }
                         });
        opening = false;
    }
    return *recorder;
}

LedgerRecorder* LedgerAccess::ForRecording(Console& console) {
    LedgerRecorder& opened = Opened(console);
    if (required && !opened.Recording()) {
        console.Error(opened.Asked() ? "the ledger cannot be used: " + opened.Problem()
                                     : "--require-ledger, but the ledger is off");
        return nullptr;
    }
    return &opened;
}

Ledger* LedgerAccess::ForReading(Console& console) {
    LedgerRecorder& opened = Opened(console);
    if (!opened.Recording()) {
        console.Error(opened.Asked() ? "the ledger cannot be used: " + opened.Problem()
                                     : "the ledger is off");
        return nullptr;
    }
    return opened.Get();
}

} // namespace ostrel::cli
