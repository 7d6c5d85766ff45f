#include "app/qt/UpdaterApp.h"

#include "app/StandardErrorMessages.h"
#include "app/qt/SettingsStore.h"
#include "common/Version.h"
#include "platform/MessageBox.h"

#include <cstdio>

namespace ostrel {

int UpdaterApp::Run(const std::string& commandLineTail, Attendance attendance) {
    platform::MessageBox boxes;
    StandardErrorMessages lines;
    MessageSink& messages =
        attendance == Attendance::Nobody ? static_cast<MessageSink&>(lines) : boxes;
    const SettingsStore settings(SettingsStore::DefaultFilePath(), messages);
    // The ledger's troubles are no message box: a line on standard error, and the window goes on.
    LedgerRecorder ledger(LedgerPlace::Choose(std::nullopt, false),
                          RecordedBy::ThisProcess("ostrel", programVersion),
                          [](const std::string& text) {
                              std::fprintf(stderr, "ostrel: warning: %s\n", text.c_str());
                          });
    MainDialog dialog(commandLineTail, settings, messages, nullptr, attendance, &ledger);
    switch (dialog.DoModal()) {
    case QDialog::Accepted:
        return exitAfterUpdate;
    case QDialog::Rejected:
        return exitAfterDone;
    case MainDialog::failedUnattended:
        return exitFailedUnattended;
    }
    return exitAfterUpdate;
}

} // namespace ostrel
