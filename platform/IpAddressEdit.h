#pragma once

#include "app/AddressText.h"

#include <array>

#include <QFrame>

class QLineEdit;

namespace ostrel::platform {

// Four fields of 0..255 separated by dots. A blank field reads as 0; the packed address has
// the leftmost field in its most significant byte. Typing a dot or filling three digits moves
// on to the next field.
class IpAddressEdit final : public QFrame {
    Q_OBJECT

public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    DeviceAddress Address() const;
    void SetAddress(DeviceAddress address);
    void Clear();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QLineEdit*, 4> fields{};
};

} // namespace ostrel::platform
