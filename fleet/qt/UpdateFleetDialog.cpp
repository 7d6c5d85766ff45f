#include "fleet/qt/UpdateFleetDialog.h"

#include "common/HexText.h"
#include "platform/PathText.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace ostrel {

namespace {

QString PlanText(const UpdatePlan& plan) {
    QString text = QObject::tr("Verify: start %1, length %2, CRC-16 %3\n%4 Program frames")
                       .arg(QString::fromStdString(HexText(plan.verify.start, 8)))
                       .arg(plan.verify.length)
                       .arg(QString::fromStdString(HexText(plan.verify.crc, 4)))
                       .arg(plan.programFrames);
    for (const auto& warning : plan.warnings) {
        text += QStringLiteral("\n⚠ ") + QString::fromStdString(warning.text);
    }
    return text;
}

} // namespace

UpdateFleetDialog::UpdateFleetDialog(bool verifyOnly, int modules, const std::string& path,
                                     QWidget* parent)
    : QDialog(parent), verify(verifyOnly) {
    setWindowTitle(verify ? tr("Verify %n module(s)", "", modules)
                          : tr("Update %n module(s)", "", modules));
    fileEdit = new QLineEdit(this);
    fileEdit->setReadOnly(true);
    fileEdit->setAccessibleName(tr("HEX file"));
    auto* browse = new QPushButton(tr("&Browse…"), this);
    browse->setAccessibleName(tr("Choose the HEX file"));
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(fileEdit);
    fileRow->addWidget(browse);
    planLabel = new QLabel(this);
    planLabel->setWordWrap(true);
    planLabel->setAccessibleName(tr("Plan"));
    retries = new QSpinBox(this);
    retries->setRange(0, 100);
    retries->setAccessibleName(tr("Retries"));
    parallel = new QSpinBox(this);
    parallel->setRange(0, 1024);
    parallel->setSpecialValueText(tr("all"));
    parallel->setAccessibleName(tr("At most so many at once"));
    skipVersion = new QCheckBox(tr("&Skip modules already on version"), this);
    versionEdit = new QLineEdit(this);
    versionEdit->setAccessibleName(tr("Version to skip"));
    auto* skipRow = new QHBoxLayout;
    skipRow->addWidget(skipVersion);
    skipRow->addWidget(versionEdit);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(verify ? tr("&Verify") : tr("&Update"));

    auto* form = new QFormLayout(this);
    auto* fileLabel = new QLabel(tr("&File:"), this);
    fileLabel->setBuddy(browse); // the line is read-only: Alt+F goes to Browse
    form->addRow(fileLabel, fileRow);
    form->addRow(tr("Plan:"), planLabel);
    form->addRow(tr("&Retries:"), retries);
    form->addRow(tr("&Parallel:"), parallel);
    form->addRow(skipRow);
    form->addRow(buttons);
    skipVersion->setVisible(!verify);
    versionEdit->setVisible(!verify);

    connect(browse, &QPushButton::clicked, this, &UpdateFleetDialog::Browse);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ChooseFile(path);
}

void UpdateFleetDialog::Browse() {
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("HEX file"), QString(), tr("Intel HEX files (*.hex *.HEX);;All files (*)"));
    if (!chosen.isEmpty()) {
        ChooseFile(platform::ResolveChosenPath(chosen));
    }
}

void UpdateFleetDialog::ChooseFile(const std::string& path) {
    file = path;
    plan.reset();
    fileEdit->setText(platform::PathToText(path));
    QString why;
    if (!path.empty()) {
        UpdatePlan planned = PlanUpdate(path);
        if (!planned.readable) {
            why = tr("The file cannot be read.");
        } else if (planned.programFrames == 0) {
            why = tr("The file holds no Intel HEX record to program.");
        } else if (planned.verify.length == 0) {
            why = tr("The file holds nothing to verify: no data lands in the program memory, "
                     "so an update would only erase the modules.");
        } else {
            plan = std::move(planned);
        }
    }
    planLabel->setText(plan ? PlanText(*plan) : why);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(plan.has_value());
}

FleetPolicy UpdateFleetDialog::Policy() const {
    FleetPolicy policy;
    policy.parallel = static_cast<std::size_t>(parallel->value());
    policy.moreTries = static_cast<unsigned>(retries->value());
    if (!verify && skipVersion->isChecked() && !versionEdit->text().isEmpty()) {
        policy.unlessVersion = versionEdit->text().toStdString();
    }
    return policy;
}

} // namespace ostrel
