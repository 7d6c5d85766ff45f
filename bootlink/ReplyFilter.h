#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace ostrel {

// Tells the answer to the command in flight from a stray or echoed reply. A reply names the
// command it answers, and it cannot come back sooner than a round trip: one that arrived before
// the latest send, or after it in less than half the shortest round trip measured so far, is the
// echo of an earlier send (a duplicated datagram, or the late answer to a copy that was resent).
//
// Round trips are kept per command, since an Erase or Verify answer includes the module's own
// work (seconds on a real module). The half-round-trip test waits until the path has shown that
// it repeats replies (a stray reply was dropped): before that, the spread of round trips alone
// (an update's first one is several times the rest) would make it drop real answers. Every reply
// after a send counts towards the shortest, the dropped ones too, so a faster module is learned.
//
// On a path that repeats replies, the next send also waits a moment after the answer it follows,
// so that the answer's own copies, which come close behind it, arrive before that send.
//
// Times are those of the kernel's arrival stamps, which are wall-clock times; only differences
// between a send and an arrival are ever taken.
class ReplyFilter {
public:
    using Clock = std::chrono::system_clock;
    static constexpr std::chrono::microseconds copyGuard{200};

    void NoteSend(std::uint8_t command, Clock::time_point at);
    // A reply came while no command was outstanding.
    void NoteStray() { straySeen = true; }
    // True when the reply answers the latest send.
    bool Accept(std::uint8_t replyCommand, Clock::time_point arrival);

    struct RoundTrips {
        int measured = 0;
        Clock::duration shortest = Clock::duration::max();
    };
    const RoundTrips& RoundTripsOf(std::uint8_t command) const { return roundTrips[command]; }
    bool StraySeen() const { return straySeen; }
    // How much longer the next command should wait before it leaves; zero for none.
    Clock::duration SendHeldFor(Clock::time_point now) const;

private:
    std::uint8_t sentCommand = 0;
    Clock::time_point lastSend{};
    Clock::time_point lastAnswer{};
    bool straySeen = false;
    std::array<RoundTrips, 256> roundTrips{};
};

} // namespace ostrel
