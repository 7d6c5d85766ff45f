#pragma once

#include "bootlink/UdpEndpoint.h"
#include "common/DeviceAddress.h"
#include "common/MessageSink.h"
#include "devices/ManagementDatagrams.h"
#include "devices/SetupChange.h"
#include "platform/ModalDialog.h"

#include <array>
#include <chrono>
#include <memory>
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
    static constexpr int readTries = 15;
    // How long each try waits for an answer before it receives; it ends early when one is ready.
    static constexpr std::chrono::milliseconds replyWait{250};
    static constexpr std::size_t replyBufferSize = 245;
    static constexpr std::size_t acceptedReplyLength = 61; // more than 60 bytes

    SetupDialog(DeviceAddress deviceAddress, MessageSink& messages, QWidget* parent);
    ~SetupDialog() override;
    Q_DISABLE_COPY_MOVE(SetupDialog)

    void OnDhcpEnabled();
    void OnApplyAndExit();
    void reject() override; // Cancel and Escape

protected:
    void OnInitDialog() override;

private:
    bool ReadSettings();
    void WaitForReply();
    void FillControls(const ManagementReply& reply);
    EnteredSettings Entered() const;

    std::unique_ptr<Ui::SetupDialog> ui;
    MessageSink& messages;
    std::string identification;
    UdpEndpoint endpoint;
    DeviceAddress deviceAddress;
    std::array<std::uint8_t, replyBufferSize> replyBuffer{};
    ReportedSettings reportedSettings;
};

} // namespace ostrel
