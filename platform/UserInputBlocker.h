#pragma once

#include <QObject>

namespace ostrel::platform {

// While it lives, no window takes user input: clicks, keys, wheel, touch and shortcuts are
// swallowed as a disabled window would, while painting, timers and posted events go on. For a
// wait that runs the event loop before a modal dialog has shown itself and blocked its owner.
class UserInputBlocker final : public QObject {
    Q_OBJECT

public:
    UserInputBlocker();
    ~UserInputBlocker() override;
    Q_DISABLE_COPY_MOVE(UserInputBlocker)

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace ostrel::platform
