// The endpoint aimed at one module: its receive time-out, and a datagram longer than the
// buffer refused whole.
#include "net/UdpEndpoint.h"

#include "tests/support/Bytes.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/UdpPeer.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::HexBytes;
using Clock = std::chrono::steady_clock;

constexpr DeviceAddress loopback = 0x7F000001;

long Ms(Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

TEST(UdpEndpointTest, ReceiveWithNothingPendingReturnsZeroAfterItsTimeOut) {
    test::MessageRecorder messages;
    test::UdpPeer peer;
    UdpEndpoint endpoint(messages);
    ASSERT_TRUE(endpoint.Open(peer.Port(), loopback));
    const Bytes hello = HexBytes("01 02 03");
    ASSERT_EQ(endpoint.Send(hello), 3);
    const auto start = Clock::now();
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(endpoint.Receive(buffer), 0u);
    const long waited = Ms(Clock::now() - start);
    EXPECT_GE(waited, 15);
    EXPECT_LT(waited, 200);
    // A datagram longer than the buffer is refused whole.
    const auto datagram = peer.Receive(500ms);
    ASSERT_TRUE(datagram);
    peer.SendTo(datagram->source, Bytes(17, 0xAB));
    EXPECT_EQ(endpoint.Receive(buffer), 0u);
    peer.SendTo(datagram->source, Bytes(16, 0xAB));
    EXPECT_EQ(endpoint.Receive(buffer), 16u);
    EXPECT_TRUE(messages.messages.empty());
    endpoint.Close();
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.Receive(buffer), 0u);
}

} // namespace
} // namespace ostrel
