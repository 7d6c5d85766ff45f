#include "app/UpdaterApp.h"

#include "app/MainDialog.h"
#include "app/SettingsStore.h"
#include "platform/MessageBox.h"

namespace ostrel {

int UpdaterApp::Run(const std::string& commandLineTail) {
    platform::MessageBox messages;
    const SettingsStore settings(SettingsStore::DefaultFilePath(), messages);
    MainDialog dialog(commandLineTail, settings, messages);
    switch (dialog.DoModal()) {
    case QDialog::Accepted:
        return exitAfterUpdate;
    case QDialog::Rejected:
        return exitAfterDone;
    }
    return exitAfterUpdate;
}

} // namespace ostrel
