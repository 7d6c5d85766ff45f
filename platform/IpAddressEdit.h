#pragma once

#include "common/DeviceAddress.h"

#include <array>

#include <QFrame>

class QLineEdit;

namespace ostrel::platform {

// Four fields of 0..255 separated by dots, one tab stop as a whole: Tab and Shift+Tab leave it,
// while a dot, the arrow keys at a field's edge, Backspace at its start and a full field move
// between its fields. A blank field reads as 0; the packed address has the leftmost field in
// its most significant byte.
class IpAddressEdit final : public QFrame {
    Q_OBJECT

public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    DeviceAddress Address() const;
    void SetAddress(DeviceAddress address);
    void Clear();

protected:
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Moves the focus into field index, its cursor at the start or at the end.
    void EnterField(std::size_t index, bool atEnd);
    // Moves the focus to the next (or previous) tab stop outside this control.
    void LeaveControl(bool forward);
    bool HandleFieldKey(std::size_t index, const QKeyEvent& key);

    std::array<QLineEdit*, 4> fields{};
};

} // namespace ostrel::platform
