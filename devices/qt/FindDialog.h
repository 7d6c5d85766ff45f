#pragma once

#include "common/DeviceAddress.h"
#include "common/MessageSink.h"
#include "devices/DeviceList.h"
#include "devices/ManagementDatagrams.h"
#include "devices/qt/DiscoverySocket.h"
#include "platform/ModalDialog.h"

#include <chrono>
#include <memory>
#include <vector>

#include <QBasicTimer>
#include <QPixmap>

namespace Ui {
class FindDialog;
}

namespace ostrel {

// Lists the modules that answer a broadcast read request and lets the user pick one. Accepted
// means a module was chosen; SelectedAddress is then its own address.
class FindDialog final : public platform::ModalDialog {
    Q_OBJECT

public:
    static constexpr DeviceAddress scanAddress = 0xFFFFFFFF;   // 255.255.255.255
    static constexpr DeviceAddress rescanAddress = 0xC0A802FF; // 192.168.2.255
    static constexpr std::chrono::milliseconds tickPeriod{1500};
    static constexpr int ticksUntilRescan = 2;
    static constexpr int moduleImage = 3; // a network device on red

    FindDialog(MessageSink& messages, QWidget* parent);
    ~FindDialog() override;
    Q_DISABLE_COPY_MOVE(FindDialog)

    DeviceAddress SelectedAddress() const { return selectedAddress; }
    void OnRescan();
    void accept() override; // OK
    void HandleReply(std::span<const std::uint8_t> datagram);
    const DeviceList& Devices() const { return devices; }
    // Every module that answered, each MAC once, as it answered (for the ledger).
    const std::vector<ManagementReply>& Heard() const { return heard; }

protected:
    void OnInitDialog() override;
    void timerEvent(QTimerEvent* event) override;

private:
    void StartScan(DeviceAddress broadcast);
    void AddTreeItem(const DeviceNode& node, bool select);

    std::unique_ptr<Ui::FindDialog> ui;
    MessageSink& messages;
    DeviceAddress selectedAddress = 0;
    std::unique_ptr<DiscoverySocket> socket;
    DeviceList devices;
    std::vector<ManagementReply> heard;
    QPixmap stateImages;
    QBasicTimer timer;
    int tickCount = 0;
};

} // namespace ostrel
