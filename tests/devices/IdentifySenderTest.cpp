#include "devices/IdentifySender.h"

#include "tests/support/Bytes.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/UdpPeer.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

TEST(IdentifySenderTest, SendsOneDatagramToPort6234OfTheModule) {
    test::UdpPeer module("127.0.15.1", 6234);
    test::MessageRecorder messages;
    SendIdentify(0x7F000F01, true, messages);
    SendIdentify(0x7F000F01, false, messages);
    const auto on = module.Receive(500ms);
    const auto off = module.Receive(500ms);
    ASSERT_TRUE(on && off);
    EXPECT_BYTES_EQ(test::HexBytes("CA FE 10 01 49 35 38 32 30 33"), on->bytes);
    EXPECT_BYTES_EQ(test::HexBytes("CA FE 10 00 49 35 38 32 30 33"), off->bytes);
    EXPECT_NE(on->source.sin_port, off->source.sin_port) << "a fresh socket for each";
    EXPECT_FALSE(module.Receive(100ms)) << "sent once, not repeated";
    EXPECT_TRUE(messages.messages.empty());
}

} // namespace
} // namespace ostrel
