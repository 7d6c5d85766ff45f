#include "devices/qt/FindDialog.h"

#include "ui_FindDialog.h"

#include <QTimerEvent>

namespace ostrel {

namespace {

constexpr int stateImageSize = 16;

} // namespace

FindDialog::FindDialog(MessageSink& sink, QWidget* parent)
    : ModalDialog(parent), ui(std::make_unique<Ui::FindDialog>()), messages(sink),
      stateImages(QStringLiteral(":/icons/state-images.png")) {
    ui->setupUi(this);
    SetFirstTabStop(ui->okButton);
    ui->tree->setIconSize(QSize(stateImageSize, stateImageSize));
    connect(ui->okButton, &QPushButton::clicked, this, &FindDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &FindDialog::reject);
    connect(ui->rescanButton, &QPushButton::clicked, this, &FindDialog::OnRescan);
}

FindDialog::~FindDialog() = default;

void FindDialog::OnInitDialog() {
    devices.Clear();
    StartScan(scanAddress);
}

void FindDialog::StartScan(DeviceAddress broadcast) {
    timer.start(static_cast<int>(tickPeriod.count()), this);
    tickCount = 0;
    ui->rescanButton->setEnabled(false);
    // The old socket goes first: the new one binds the same port.
    socket.reset();
    socket = std::make_unique<DiscoverySocket>(
        [this](std::span<const std::uint8_t> datagram) { HandleReply(datagram); }, broadcast,
        messages);
    socket->SendRequest();
    // The period counts from the moment the request went out.
    timer.start(static_cast<int>(tickPeriod.count()), this);
}

void FindDialog::timerEvent(QTimerEvent* event) {
    // Every tick counts, whichever timer sent it; the button comes back after the second.
    if (++tickCount == ticksUntilRescan) {
        ui->rescanButton->setEnabled(true);
        timer.stop();
    }
    ModalDialog::timerEvent(event);
}

void FindDialog::OnRescan() {
    ui->tree->clear();
    devices.Clear();
    heard.clear();
    StartScan(rescanAddress);
}

void FindDialog::HandleReply(std::span<const std::uint8_t> datagram) {
    const std::optional<DeviceNode> node = DeviceFromReply(datagram);
    if (!node) {
        return;
    }
    switch (devices.InsertDevice(*node)) {
    case DeviceList::Insertion::First:
        heard.push_back(ParseReply(datagram));
        AddTreeItem(*node, true);
        break;
    case DeviceList::Insertion::Added:
        heard.push_back(ParseReply(datagram));
        AddTreeItem(*node, false);
        break;
    case DeviceList::Insertion::Duplicate:
        break;
    }
}

void FindDialog::AddTreeItem(const DeviceNode& node, bool select) {
    auto* item = new QTreeWidgetItem(ui->tree, {QString::fromLatin1(MakeLabel(node))});
    item->setIcon(
        0, stateImages.copy(moduleImage * stateImageSize, 0, stateImageSize, stateImageSize));
    item->setData(0, Qt::UserRole, QVariant::fromValue(node.Address()));
    if (select) {
        ui->tree->setCurrentItem(item);
    }
}

void FindDialog::accept() {
    const QList<QTreeWidgetItem*> selected = ui->tree->selectedItems();
    if (selected.isEmpty()) {
        messages.Say("You must first select a device in the\nSelect a Unit in the tree.");
        return;
    }
    selectedAddress = selected.first()->data(0, Qt::UserRole).value<DeviceAddress>();
    done(Accepted);
}

} // namespace ostrel
