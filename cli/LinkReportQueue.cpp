#include "cli/LinkReportQueue.h"

namespace ostrel::cli {

void LinkReportQueue::Post(const LinkReport& report) {
    {
        std::lock_guard lock(mutex);
        reports.push_back(report);
    }
    wake.Signal();
}

std::vector<LinkReport> LinkReportQueue::Take() {
    wake.Drain();
    std::lock_guard lock(mutex);
    std::vector<LinkReport> taken(reports.begin(), reports.end());
    reports.clear();
    return taken;
}

void QueuedListener::PostLinkReply(const LinkReply& reply) {
    queue.Post({module, LinkReport::Kind::Reply, reply, 0});
}

void QueuedListener::PostLinkTimeout(BootCommand command) {
    LinkReply reply;
    reply.command = command;
    queue.Post({module, LinkReport::Kind::Timeout, reply, 0});
}

void QueuedListener::PostLinkResend(BootCommand command, std::uint16_t send) {
    LinkReply reply;
    reply.command = command;
    queue.Post({module, LinkReport::Kind::Resend, reply, send});
}

} // namespace ostrel::cli
