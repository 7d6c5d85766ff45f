#include "tests/support/FakeBootloader.h"

#include "sim/ReplyFramer.h"

#include <algorithm>

namespace ostrel::test {

namespace {

constexpr std::uint8_t programCode = 3;
constexpr std::uint16_t modulePort = 6234;

} // namespace

FakeBootloader::FakeBootloader(Faults chosen, const char* address)
    : faults(chosen), peer(address, modulePort),
      server([this](std::stop_token stop) { Serve(stop); }) {}

FakeBootloader::~FakeBootloader() {
    server.request_stop();
    if (server.joinable()) {
        server.join();
    }
}

void FakeBootloader::Serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
        auto wait = std::chrono::milliseconds(5);
        if (!pending.empty()) {
            wait = std::clamp(
                std::chrono::ceil<std::chrono::milliseconds>(pending.front().due - Clock::now()),
                std::chrono::milliseconds(0), wait);
        }
        if (const auto datagram = peer.Receive(wait)) {
            Handle(*datagram);
        }
        SendDue();
    }
}

void FakeBootloader::Handle(const UdpPeer::Datagram& datagram) {
    const sim::DeframeResult frame = deframer.Feed(datagram.bytes);
    if (frame.status != sim::DeframeStatus::Frame) {
        return; // the wake string, or a broken frame
    }
    const std::uint8_t command = frame.payload[0];
    {
        std::lock_guard lock(mutex);
        ++received[command];
    }
    auto delay = Clock::duration::zero();
    if (command == programCode && frame.payload != lastProgram) {
        lastProgram = frame.payload;
        ++newProgramFrames;
        if (faults.lateEvery != 0 && newProgramFrames % faults.lateEvery == 0) {
            delay = faults.lateBy;
        }
    }
    const sim::BootOutcome outcome = model.Execute(frame.payload);
    if (!outcome.reply) {
        return;
    }
    const auto bytes = sim::FrameReply(*outcome.reply);
    const Pending reply{Clock::now() + delay, datagram.source, bytes};
    pending.insert(std::ranges::upper_bound(pending, reply.due, {}, &Pending::due), reply);
    SendDue();
}

void FakeBootloader::SendDue() {
    while (!pending.empty() && pending.front().due <= Clock::now()) {
        peer.SendTo(pending.front().destination, pending.front().bytes, faults.copies);
        pending.pop_front();
    }
}

std::size_t FakeBootloader::FramesReceived(std::uint8_t command) const {
    std::lock_guard lock(mutex);
    return received[command];
}

std::vector<std::uint8_t> FakeBootloader::Flash() {
    server.request_stop();
    if (server.joinable()) {
        server.join();
    }
    const auto contents = model.Flash().Contents();
    return {contents.begin(), contents.end()};
}

} // namespace ostrel::test
