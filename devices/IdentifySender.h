#pragma once

#include "common/DeviceAddress.h"
#include "common/MessageSink.h"

namespace ostrel {

// Switches a module's identification indicator with one datagram from a fresh socket, closed
// right after the send. Nothing is received, and a lost datagram is not noticed.
void SendIdentify(DeviceAddress module, bool on, MessageSink& messages);

} // namespace ostrel
