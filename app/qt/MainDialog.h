#pragma once

#include "app/AddressText.h"
#include "app/qt/SettingsStore.h"
#include "common/MessageSink.h"
#include "ledger/LedgerRecorder.h"
#include "platform/ModalDialog.h"
#include "update/UpdatePlan.h"

#include <memory>
#include <string>

namespace Ui {
class MainDialog;
}

namespace ostrel {

// Whether someone can see the windows and answer them.
enum class Attendance {
    User,
    Nobody, // no display, or a platform that shows nothing
};

// The program's window: the module's address, the HEX file, and a button for each operation.
// It ends Accepted only through a successful update and Rejected through Done; where nobody
// can answer, an automatic update that failed ends it with failedUnattended.
class MainDialog final : public platform::ModalDialog {
    Q_OBJECT

public:
    static constexpr int failedUnattended = 2;

    // What the window does to modules goes into the ledger, when one is given; it sends nothing
    // more for it.
    MainDialog(const std::string& commandLine, const SettingsStore& settings, MessageSink& messages,
               QWidget* parent = nullptr, Attendance attendance = Attendance::User,
               LedgerRecorder* ledger = nullptr);
    ~MainDialog() override;
    Q_DISABLE_COPY_MOVE(MainDialog)

    void OnBrowse();
    void OnFind();
    void OnUpdateFirmware();
    void OnSetup();
    void OnDone();
    void OnIdent();

    DeviceAddress CurrentDeviceAddress() const { return deviceAddress; }
    const std::string& FileName() const { return fileName; }
    bool Automatic() const { return automatic; }

protected:
    void OnInitDialog() override;

private:
    // Moves fileName between the member and its edit, like the framework's data exchange.
    void UpdateData(bool fromControls);
    bool RunProgressDialog(DeviceAddress address);
    // The update of the file at the address as the ledger keeps it, as it begins.
    UpdateRecord BeganUpdate(DeviceAddress address, const UpdatePlan& plan) const;
    void EndIfNobodyCanAnswer();

    std::unique_ptr<Ui::MainDialog> ui;
    const SettingsStore& settings;
    MessageSink& messages;
    LedgerRecorder* ledger;
    std::string fileName;
    DeviceAddress deviceAddress = 0; // the target of Ident; set at start, by Find and by Setup
    DeviceAddress startAddress = 0;  // the stored address, or the one given with -I
    bool automatic = false;
    Attendance attendance;
    bool fileGiven = false; // -F appeared: the edit starts with its file
    std::string storedPath;
};

} // namespace ostrel
