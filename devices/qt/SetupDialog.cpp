#include "devices/qt/SetupDialog.h"

#include "platform/UserInputBlocker.h"
#include "ui_SetupDialog.h"

#include <algorithm>

#include <QCoreApplication>

namespace ostrel {

SetupDialog::SetupDialog(DeviceAddress address, MessageSink& sink, QWidget* parent)
    : ModalDialog(parent), ui(std::make_unique<Ui::SetupDialog>()), messages(sink), endpoint(sink),
      deviceAddress(address) {
    ui->setupUi(this);
    SetFirstTabStop(ui->applyButton);
    UseFrame(platform::DialogFrame::CaptionOnly);
    connect(ui->dhcpCheck, &QCheckBox::clicked, this, &SetupDialog::OnDhcpEnabled);
    connect(ui->applyButton, &QPushButton::clicked, this, &SetupDialog::OnApplyAndExit);
    connect(ui->cancelButton, &QPushButton::clicked, this, &SetupDialog::reject);
}

SetupDialog::~SetupDialog() = default;

void SetupDialog::OnInitDialog() {
    ui->identEdit->setText(QString::fromStdString(identification));
    if (!endpoint.Open(managementPort, deviceAddress)) {
        messages.Say("cannot open port", MessageIcon::Exclamation);
        done(Accepted);
        return;
    }
    const auto reply = ReadSettings(endpoint, WaitHandlingEvents);
    if (!reply) {
        messages.Say("no data returned", MessageIcon::Exclamation);
        endpoint.Close();
        done(Accepted);
        return;
    }
    FillControls(ParseReply(*reply));
}

bool SetupDialog::WaitHandlingEvents(UdpEndpoint& module, std::chrono::milliseconds limit) {
    // Painting and timers go on meanwhile, as in the modal loop, but no user command may start:
    // the owner is as disabled as it will be once this dialog runs.
    const platform::UserInputBlocker noInput;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (module.WaitReadable(std::chrono::milliseconds(5))) {
            break;
        }
    }
    return true;
}

void SetupDialog::FillControls(const ManagementReply& reply) {
    reportedSettings = ReportedSettings::From(reply);

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

EnteredSettings SetupDialog::Entered() const {
    EnteredSettings entered;
    entered.ipAddress = ToOctets(ui->addressCtrl->Address());
    entered.subnetMask = ToOctets(ui->maskCtrl->Address());
    entered.dhcpEnabled = ui->dhcpCheck->isChecked();
    if (ui->pidCombo->currentIndex() >= 0) {
        entered.usbPid =
            static_cast<std::uint16_t>(ui->pidCombo->currentText().toUInt(nullptr, 16));
    }
    entered.receptionPort = ReadPortText(ui->portEdit->text().toStdString()); // a one-line edit
    entered.identification = identification;
    return entered;
}

void SetupDialog::OnApplyAndExit() {
    identification = ui->identEdit->text().toLatin1().toStdString();
    const ModuleConfig config = ConfigToWrite(reportedSettings, Entered());
    if (SettingsChanged(reportedSettings, config)) {
        endpoint.Send(BuildWriteRequest(config));
        endpoint.Close();
        written = config;
    }
    done(Accepted);
}

void SetupDialog::reject() {
    endpoint.Close();
    ModalDialog::reject();
}

} // namespace ostrel
