#include "devices/qt/SetupDialog.h"

#include "common/DecimalText.h"
#include "platform/UserInputBlocker.h"
#include "ui_SetupDialog.h"

#include <algorithm>

#include <QCoreApplication>

namespace ostrel {

namespace {

constexpr std::size_t portCharacters = 5; // only so many characters of the port are read

} // namespace

SetupDialog::SetupDialog(DeviceAddress address, MessageSink& sink, QWidget* parent)
    : ModalDialog(parent), ui(std::make_unique<Ui::SetupDialog>()), messages(sink), endpoint(sink),
      deviceAddress(address) {
    ui->setupUi(this);
    SetFirstTabStop(ui->applyButton);
    // A caption but no system menu, hence no close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    connect(ui->dhcpCheck, &QCheckBox::clicked, this, &SetupDialog::OnDhcpEnabled);
    connect(ui->applyButton, &QPushButton::clicked, this, &SetupDialog::OnApplyAndExit);
    connect(ui->cancelButton, &QPushButton::clicked, this, &SetupDialog::reject);
}

SetupDialog::~SetupDialog() = default;

void SetupDialog::ShowMessage(const char* text) {
    messages.Show({text, {}, MessageIcon::Exclamation});
}

void SetupDialog::OnInitDialog() {
    ui->identEdit->setText(QString::fromStdString(identification));
    if (!endpoint.Open(managementPort, deviceAddress)) {
        ShowMessage("cannot open port");
        done(Accepted);
        return;
    }
    if (!ReadSettings()) {
        ShowMessage("no data returned");
        endpoint.Close();
        done(Accepted);
        return;
    }
    FillControls(ParseReply(replyBuffer));
}

bool SetupDialog::ReadSettings() {
    const ManagementRequest request = BuildReadRequest();
    for (int tries = readTries; tries > 0; --tries) {
        endpoint.Send(request);
        WaitForReply();
        // What a short reply does not cover reads as zero, not as an earlier datagram.
        replyBuffer.fill(0);
        if (endpoint.Receive(replyBuffer) >= acceptedReplyLength) {
            return true;
        }
    }
    return false;
}

void SetupDialog::WaitForReply() {
    // Painting and timers go on meanwhile, as in the modal loop, but no user command may start:
    // the owner is as disabled as it will be once this dialog runs.
    const platform::UserInputBlocker noInput;
    const auto end = std::chrono::steady_clock::now() + replyWait;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (endpoint.WaitReadable(std::chrono::milliseconds(5))) {
            return;
        }
    }
}

void SetupDialog::FillControls(const ManagementReply& reply) {
    reportedSettings.identification = reply.identification;
    reportedSettings.ipAddress = reply.ipAddress;
    reportedSettings.subnetMask = reply.subnetMask;
    reportedSettings.dhcpFlags = reply.dhcpFlags;
    reportedSettings.usbPid = reply.usbPid;
    reportedSettings.receptionPort = reply.receptionPort;

    ui->portEdit->setText(QString::number(reply.receptionPort));
    ui->addressCtrl->SetAddress(FromOctets(reply.ipAddress));
    ui->maskCtrl->SetAddress(FromOctets(reply.subnetMask));
    ui->dhcpCheck->setChecked(reply.DhcpEnabled());
    OnDhcpEnabled();
    ui->pidCombo->setCurrentIndex(-1);
    for (int entry = 0; entry < ui->pidCombo->count(); ++entry) {
        if (ui->pidCombo->itemText(entry).toUInt(nullptr, 16) == reply.usbPid) {
            ui->pidCombo->setCurrentIndex(entry);
            break;
        }
    }
    identification = reply.SetupIdentification();
    ui->identEdit->setText(QString::fromLatin1(identification));
}

void SetupDialog::OnDhcpEnabled() {
    // Disabled controls keep their contents; Apply still reads and sends them.
    const bool manual = !ui->dhcpCheck->isChecked();
    ui->addressCtrl->setEnabled(manual);
    ui->maskCtrl->setEnabled(manual);
}

std::uint16_t SetupDialog::SelectedPid() const {
    // With no entry selected the module's own value stands.
    if (ui->pidCombo->currentIndex() < 0) {
        return reportedSettings.usbPid;
    }
    return static_cast<std::uint16_t>(ui->pidCombo->currentText().toUInt(nullptr, 16));
}

std::uint16_t SetupDialog::EnteredPort() const {
    const std::string text = ui->portEdit->text().toStdString(); // a one-line edit
    const auto number = ScanDecimal(std::string_view(text).substr(0, portCharacters));
    // Without a number the module's own value stands; otherwise only the low 16 bits count.
    return number ? static_cast<std::uint16_t>(*number) : reportedSettings.receptionPort;
}

void SetupDialog::OnApplyAndExit() {
    identification = ui->identEdit->text().toLatin1().toStdString();
    ModuleConfig config;
    config.ipAddress = ToOctets(ui->addressCtrl->Address());
    config.subnetMask = ToOctets(ui->maskCtrl->Address());
    config.dhcpEnabled = ui->dhcpCheck->isChecked();
    config.usbPid = SelectedPid();
    config.receptionPort = EnteredPort();
    std::string padded = identification.substr(0, identificationLength);
    padded.resize(identificationLength, ' ');
    std::copy(padded.begin(), padded.end(), config.identification.begin());

    const std::uint16_t dhcpValue = config.dhcpEnabled ? dhcpOn : 0;
    const bool unchanged = config.usbPid == reportedSettings.usbPid &&
                           config.receptionPort == reportedSettings.receptionPort &&
                           config.ipAddress == reportedSettings.ipAddress &&
                           config.subnetMask == reportedSettings.subnetMask &&
                           dhcpValue == reportedSettings.dhcpFlags &&
                           config.identification == reportedSettings.identification;
    if (!unchanged) {
        endpoint.Send(BuildWriteRequest(config));
        endpoint.Close();
    }
    done(Accepted);
}

void SetupDialog::reject() {
    endpoint.Close();
    ModalDialog::reject();
}

} // namespace ostrel
