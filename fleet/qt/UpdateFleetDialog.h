#pragma once

#include "fleet/FleetUpdate.h"
#include "update/UpdatePlan.h"

#include <optional>
#include <string>

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace ostrel {

// Choose the HEX file of an update (or a verify) of the selected modules: its plan first
// (start, length, CRC, frames and warnings), then the tries, the parallel cap and whether to
// leave modules already on a version alone. A file that cannot be programmed is refused with
// the plan's reason, and OK stays off.
class UpdateFleetDialog final : public QDialog {
    Q_OBJECT

public:
    UpdateFleetDialog(bool verify, int modules, const std::string& file, QWidget* parent);

    void ChooseFile(const std::string& path);
    const std::string& File() const { return file; }
    const std::optional<UpdatePlan>& Plan() const { return plan; }
    FleetPolicy Policy() const;

private:
    void Browse();

    bool verify;
    std::string file;
    std::optional<UpdatePlan> plan;
    QLineEdit* fileEdit;
    QLabel* planLabel;
    QSpinBox* retries;
    QSpinBox* parallel;
    QCheckBox* skipVersion;
    QLineEdit* versionEdit;
    QDialogButtonBox* buttons;
};

} // namespace ostrel
