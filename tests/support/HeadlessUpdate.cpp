#include "tests/support/HeadlessUpdate.h"

namespace ostrel::test {

HeadlessUpdate::HeadlessUpdate(const std::string& fileName, DeviceAddress moduleAddress)
    : link(messages), procedure(fileName, moduleAddress, link, *this, *this) {}

HeadlessUpdate::~HeadlessUpdate() {
    // The worker reports to this object; it must be gone first.
    link.StopWorker();
}

void HeadlessUpdate::PostLinkReply(const LinkReply& reply) {
    {
        std::lock_guard lock(mutex);
        reports.push_back({false, reply});
    }
    posted.notify_one();
}

void HeadlessUpdate::PostLinkTimeout(BootCommand command) {
    Report report{true, {}};
    report.reply.command = command;
    {
        std::lock_guard lock(mutex);
        reports.push_back(report);
    }
    posted.notify_one();
}

std::optional<UpdateResult> HeadlessUpdate::Run(std::chrono::milliseconds tickPeriod,
                                                std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + limit;
    if (!procedure.OnInitDialog()) {
        return std::nullopt;
    }
    auto nextTick = Clock::now() + tickPeriod;
    while (!result && Clock::now() < end) {
        std::unique_lock lock(mutex);
        posted.wait_until(lock, nextTick, [this] { return !reports.empty(); });
        if (!reports.empty()) {
            const Report report = reports.front();
            reports.pop_front();
            lock.unlock();
            if (report.timeout) {
                procedure.OnLinkTimeout(report.reply.command);
            } else {
                procedure.OnLinkReply(report.reply);
            }
            continue;
        }
        lock.unlock();
        if (Clock::now() >= nextTick) {
            nextTick += tickPeriod;
            if (timerRunning) {
                procedure.OnTick();
            }
        }
    }
    return result;
}

} // namespace ostrel::test
