#pragma once

#include "common/MessageSink.h"
#include "common/UniqueFd.h"

#include <chrono>

namespace ostrel {

// How the two set-up failures are told: the link's endpoint shows them with an error icon (the
// first under the caption "Socket Error"), the identify switch as plain messages.
enum class SocketFailureStyle {
    Endpoint,
    Plain,
};

// An IPv4 UDP socket whose receives wait at most the time-out. When it cannot be had, the user
// is told why ("Socket creation failed!", "Failed to set the receive time out!") and no socket
// is kept, so that no receive can ever block for good.
UniqueFd OpenUdpSocket(std::chrono::milliseconds receiveTimeout, MessageSink& messages,
                       SocketFailureStyle style);

} // namespace ostrel
