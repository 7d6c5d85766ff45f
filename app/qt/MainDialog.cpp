#include "app/qt/MainDialog.h"

#include "app/CommandLine.h"
#include "devices/IdentifySender.h"
#include "devices/qt/FindDialog.h"
#include "devices/qt/SetupDialog.h"
#include "fleet/FailureText.h"
#include "fleet/FleetReport.h"
#include "fleet/LedgerEntries.h"
#include "platform/PathText.h"
#include "ui_MainDialog.h"
#include "update/qt/ProgressDialog.h"

#include <QFileDialog>

namespace ostrel {

MainDialog::MainDialog(const std::string& commandLine, const SettingsStore& settingsStore,
                       MessageSink& sink, QWidget* parent, Attendance attended,
                       LedgerRecorder* recorder)
    : ModalDialog(parent), ui(std::make_unique<Ui::MainDialog>()), settings(settingsStore),
      messages(sink), ledger(recorder), attendance(attended) {
    ui->setupUi(this);
    SetFirstTabStop(ui->doneButton);
    UseFrame(platform::DialogFrame::CaptionOnly);
    connect(ui->browseButton, &QPushButton::clicked, this, &MainDialog::OnBrowse);
    connect(ui->findButton, &QPushButton::clicked, this, &MainDialog::OnFind);
    connect(ui->updateButton, &QPushButton::clicked, this, &MainDialog::OnUpdateFirmware);
    connect(ui->setupButton, &QPushButton::clicked, this, &MainDialog::OnSetup);
    connect(ui->doneButton, &QPushButton::clicked, this, &MainDialog::OnDone);
    connect(ui->identCheck, &QCheckBox::clicked, this, &MainDialog::OnIdent);

    const CommandLineOptions options =
        ParseCommandLine(commandLine, settings.ReadStoredAddress(),
                         [this](const std::string& path) { settings.StorePath(path); });
    automatic = options.automatic;
    fileGiven = options.fileGiven;
    if (fileGiven) {
        fileName = options.fileName;
    }
    startAddress = options.startAddress;
}

MainDialog::~MainDialog() = default;

void MainDialog::OnInitDialog() {
    UpdateData(false);
    storedPath = settings.ReadStoredPath();
    deviceAddress = startAddress;
    ui->addressCtrl->SetAddress(deviceAddress);
    // After -F the edit shows its file even when it could not be stored.
    ui->fileEdit->setText(platform::PathToText(fileGiven ? fileName : storedPath));
    if (automatic) {
        OnUpdateFirmware();
    }
}

void MainDialog::UpdateData(bool fromControls) {
    if (fromControls) {
        fileName = platform::TextToPath(ui->fileEdit->text());
    } else {
        ui->fileEdit->setText(platform::PathToText(fileName));
    }
}

void MainDialog::OnBrowse() {
    const QString initialDirectory = platform::PathToText(settings.ReadStoredPath());
    QFileDialog dialog(nullptr, QString(), initialDirectory,
                       QStringLiteral("Application Files *.HEX (*HEX)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name is taken before it exists, and names Qt cannot decode stay choosable.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const std::string path = platform::ResolveChosenPath(dialog.selectedFiles().constFirst());
    ui->fileEdit->setText(platform::PathToText(path));
    settings.StorePath(path);
}

UpdateRecord MainDialog::BeganUpdate(DeviceAddress address, const UpdatePlan& plan) const {
    UpdateRecord record;
    record.started = LedgerTimestamp();
    record.operation = "update";
    record.address = FormatDottedQuad(address);
    record.file = fileName;
    record.sha256 = Sha256OfFile(fileName).value_or("");
    if (plan.readable) {
        record.start = plan.verify.start;
        record.length = plan.verify.length;
        record.crc = plan.verify.crc;
    }
    record.result = "interrupted";
    record.tries = 1;
    return record;
}

bool MainDialog::RunProgressDialog(DeviceAddress address) {
    std::optional<UpdateRecord> record;
    std::optional<std::int64_t> row;
    UpdateJob job{fileName, {}, {}, false};
    if (ledger != nullptr && ledger->Recording()) {
        job.plan = PlanUpdate(fileName); // the file only: nothing more goes on the wire
        record = BeganUpdate(address, job.plan);
        row = ledger->BeginUpdate(*record);
    }
    // The dialog goes as soon as it has ended, so nothing the link posts afterwards reaches it.
    ProgressDialog progress(fileName, address, messages, this);
    const bool updated = progress.DoModal() == QDialog::Accepted;
    if (record) {
        const UpdateProcedure& procedure = progress.Procedure();
        const FailureText failure = DescribeFailure(procedure, job, {});
        record->ended = LedgerTimestamp();
        record->result = updated ? "done" : std::string(ResultName(failure.result));
        record->exitCode = updated ? 0 : ToInt(failure.code);
        record->error = updated ? std::string() : failure.error;
        ledger->EndUpdate(row, *record);
    }
    return updated;
}

void MainDialog::OnUpdateFirmware() {
    UpdateData(true);
    const DeviceAddress address = ui->addressCtrl->Address();
    if (address == 0) {
        messages.Say("Invalid IP address ");
        EndIfNobodyCanAnswer();
        return;
    }
    settings.StoreAddress(address);
    if (RunProgressDialog(address)) {
        if (!automatic) {
            messages.Say("Programming Complete without Error.");
        }
        UpdateData(true);
        done(Accepted);
    } else {
        messages.Say("Update Failed");
        EndIfNobodyCanAnswer();
    }
}

void MainDialog::EndIfNobodyCanAnswer() {
    // A window nobody can see would wait for ever: an automatic run that failed ends instead.
    if (automatic && attendance == Attendance::Nobody) {
        done(failedUnattended);
    }
}

void MainDialog::OnFind() {
    UpdateData(true);
    FindDialog finder(messages, this);
    const bool chosen = finder.DoModal() == QDialog::Accepted && finder.SelectedAddress() != 0;
    if (ledger != nullptr) {
        std::vector<Sighting> heard;
        for (const ManagementReply& reply : finder.Heard()) {
            heard.push_back(SightingOf(reply, {}));
        }
        ledger->RecordScan(heard);
    }
    if (!chosen) {
        messages.Say("IP not set");
        return;
    }
    settings.StoreAddress(finder.SelectedAddress());
    deviceAddress = finder.SelectedAddress();
    ui->addressCtrl->SetAddress(deviceAddress);
    UpdateData(false);
}

void MainDialog::OnSetup() {
    deviceAddress = ui->addressCtrl->Address();
    SetupDialog setup(deviceAddress, messages, this);
    setup.DoModal();
    if (ledger != nullptr && setup.Written()) {
        ledger->RecordSettingsWrite({LedgerTimestamp(),
                                     FormatDottedQuad(deviceAddress),
                                     {},
                                     SettingsText(setup.Reported()),
                                     SettingsText(*setup.Written()),
                                     "written"});
    }
}

void MainDialog::OnDone() {
    reject();
}

void MainDialog::OnIdent() {
    // Ident follows deviceAddress, not whatever has been typed since Find or Setup.
    const bool on = ui->identCheck->isChecked();
    SendIdentify(deviceAddress, on, messages);
    if (ledger != nullptr) {
        ledger->RecordIdentify({LedgerTimestamp(), FormatDottedQuad(deviceAddress), on});
    }
}

} // namespace ostrel
