#pragma once

#include "common/MessageSink.h"

namespace ostrel::platform {

// Shows each message as a modal QMessageBox over the active window. Like the boxes it stands
// in for, it runs a nested event loop: timers and posted events go on being handled meanwhile.
class MessageBox final : public MessageSink {
public:
    void Show(const Message& message) override;
};

} // namespace ostrel::platform
