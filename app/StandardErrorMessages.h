#pragma once

#include "common/MessageSink.h"

namespace ostrel {

// Where no window can be seen: each message is one line "ostrel: <text>" on standard error, and
// is taken as acknowledged at once.
class StandardErrorMessages final : public MessageSink {
public:
    void Show(const Message& message) override;
};

} // namespace ostrel
