#pragma once

#include "bootlink/LinkListener.h"
#include "common/WakeEvent.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace ostrel::cli {

// A link's report, tagged with the module it is for.
struct LinkReport {
    enum class Kind { Reply, Timeout, Resend };
    std::size_t module = 0;
    Kind kind = Kind::Reply;
    LinkReply reply;        // for a reply
    std::uint16_t send = 0; // for a resend: which send it was
};

// Where every link's worker posts and the console's one thread takes from: it waits on Fd()
// together with everything else it waits for.
class LinkReportQueue {
public:
    void Post(const LinkReport& report);
    std::vector<LinkReport> Take();
    int Fd() const { return wake.Fd(); }

private:
    std::mutex mutex;
    std::deque<LinkReport> reports;
    WakeEvent wake;
};

// The listener a module's link reports to.
class QueuedListener final : public LinkListener {
public:
    QueuedListener(LinkReportQueue& reports, std::size_t id) : queue(reports), module(id) {}

    void PostLinkReply(const LinkReply& reply) override;
    void PostLinkTimeout(BootCommand command) override;
    void PostLinkResend(BootCommand command, std::uint16_t send) override;

private:
    LinkReportQueue& queue;
    std::size_t module;
};

} // namespace ostrel::cli
