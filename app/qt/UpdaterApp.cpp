#include "app/qt/UpdaterApp.h"

#include "app/StandardErrorMessages.h"
#include "app/qt/SettingsStore.h"
#include "platform/MessageBox.h"

namespace ostrel {

int UpdaterApp::Run(const std::string& commandLineTail, Attendance attendance) {
    platform::MessageBox boxes;
    StandardErrorMessages lines;
    MessageSink& messages =
        attendance == Attendance::Nobody ? static_cast<MessageSink&>(lines) : boxes;
    const SettingsStore settings(SettingsStore::DefaultFilePath(), messages);
    MainDialog dialog(commandLineTail, settings, messages, nullptr, attendance);
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
