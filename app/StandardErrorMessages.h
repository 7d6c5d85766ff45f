#pragma once

#include "platform/MessageSink.h"

namespace ostrel {

// Where no window can be seen: each message is one line "ostrel: <text>" on standard error, and
// is taken as acknowledged at once.
class StandardErrorMessages final : public platform::MessageSink {
public:
    void Show(const platform::Message& message) override;
};

} // namespace ostrel
