#pragma once

#include "common/DeviceAddress.h"
#include "common/MessageSink.h"
#include "devices/ManagementDatagrams.h"
#include "devices/SettingsRead.h"
#include "devices/SetupChange.h"
#include "net/UdpEndpoint.h"
#include "platform/ModalDialog.h"

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class SetupDialog;
}

namespace ostrel {

// Reads one module's network settings, lets the user edit them, and writes them back only when
// something changed. The read happens before the dialog shows; without an answer it never does.
class SetupDialog final : public platform::ModalDialog {
    Q_OBJECT

public:
    SetupDialog(DeviceAddress deviceAddress, MessageSink& messages, QWidget* parent);
    ~SetupDialog() override;
    Q_DISABLE_COPY_MOVE(SetupDialog)

    void OnDhcpEnabled();
    void OnApplyAndExit();
    void reject() override; // Cancel and Escape

    // The module's settings as read, and what was written to it, if anything (for the ledger).
    const ReportedSettings& Reported() const { return reportedSettings; }
    const std::optional<ModuleConfig>& Written() const { return written; }

protected:
    void OnInitDialog() override;

private:
    static bool WaitHandlingEvents(UdpEndpoint& module, std::chrono::milliseconds limit);
    void FillControls(const ManagementReply& reply);
    EnteredSettings Entered() const;

    std::unique_ptr<Ui::SetupDialog> ui;
    MessageSink& messages;
    std::string identification;
    UdpEndpoint endpoint;
    DeviceAddress deviceAddress;
    ReportedSettings reportedSettings;
    std::optional<ModuleConfig> written;
};

} // namespace ostrel
