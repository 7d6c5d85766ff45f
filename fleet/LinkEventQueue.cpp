#include "fleet/LinkEventQueue.h"

namespace ostrel {

void LinkEventQueue::Post(const LinkEvent& event) {
    {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }
    wake.Signal();
}

std::vector<LinkEvent> LinkEventQueue::Take() {
    wake.Drain();
    std::lock_guard lock(mutex);
    std::vector<LinkEvent> taken(events.begin(), events.end());
    events.clear();
    return taken;
}

void QueuedLinkListener::PostLinkReply(const LinkReply& reply) {
    queue.Post({id, LinkEvent::Kind::Reply, reply, 0});
}

void QueuedLinkListener::PostLinkTimeout(BootCommand command) {
    LinkReply reply;
    reply.command = command;
    queue.Post({id, LinkEvent::Kind::Timeout, reply, 0});
}

void QueuedLinkListener::PostLinkResend(BootCommand command, std::uint16_t send) {
    LinkReply reply;
    reply.command = command;
    queue.Post({id, LinkEvent::Kind::Resend, reply, send});
}

} // namespace ostrel
