#pragma once

#include "bootlink/LinkListener.h"
#include "common/WakeEvent.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace ostrel {

// What a link's worker told, tagged with the try it is for.
struct LinkEvent {
    enum class Kind { Reply, Timeout, Resend };
    std::size_t tryId = 0;
    Kind kind = Kind::Reply;
    LinkReply reply;        // for a reply; for the others only its command
    std::uint16_t send = 0; // for a resend: which send it was
};

// Where every link's worker posts and the fleet's one thread takes from: it waits on Fd()
// together with everything else it waits for.
class LinkEventQueue {
public:
    void Post(const LinkEvent& event);
    std::vector<LinkEvent> Take();
    int Fd() const { return wake.Fd(); }

private:
    std::mutex mutex;
    std::deque<LinkEvent> events;
    WakeEvent wake;
};

// The listener one try's link posts to.
class QueuedLinkListener final : public LinkListener {
public:
    QueuedLinkListener(LinkEventQueue& events, std::size_t tryId) : queue(events), id(tryId) {}

    void PostLinkReply(const LinkReply& reply) override;
    void PostLinkTimeout(BootCommand command) override;
    void PostLinkResend(BootCommand command, std::uint16_t send) override;

private:
    LinkEventQueue& queue;
    std::size_t id;
};

} // namespace ostrel
