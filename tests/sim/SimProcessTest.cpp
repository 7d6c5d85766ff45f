#include "tests/support/SimProcess.h"

#include "tests/support/Bytes.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/TestFrames.h"
#include "tests/support/UdpPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using namespace std::chrono_literals;

const Bytes wake = {'7', '0', '8', '1', '4'};
const Bytes eraseFrame = HexBytes("01 02 42 20 04");
const Bytes queryFrame = HexBytes("01 10 01 21 10 10 04");
const Bytes runFrame = HexBytes("01 05 A5 50 04");
const Bytes programReply = HexBytes("01 03 63 30 04");
constexpr std::size_t flashSize = 0x500000;

Bytes ReadRequest() {
    Bytes request = HexBytes("CA FE 10 01 52");
    request.resize(73, 0);
    return request;
}

Bytes VerifyFrame(std::uint32_t start, std::uint32_t length) {
    Bytes payload{0x04};
    for (const std::uint32_t value : {start, length}) {
        for (int i = 0; i < 4; ++i) {
            payload.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    payload.insert(payload.end(), {0x00, 0x00});
    return EncodeTestFrame(payload);
}

// Records packed into Program frames of at most 11 records, as the host does.
std::vector<Bytes> ProgramFrames(const HexFileWriter& hex) {
    std::vector<Bytes> frames;
    const auto& records = hex.Records();
    for (std::size_t first = 0; first < records.size(); first += 11) {
        Bytes payload{0x03};
        for (std::size_t i = first; i < std::min(first + 11, records.size()); ++i) {
            payload.insert(payload.end(), records[i].begin(), records[i].end());
        }
        frames.push_back(EncodeTestFrame(payload));
    }
    return frames;
}

std::vector<std::string> Fields(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> fields;
    for (std::string field; stream >> field;) {
        fields.push_back(field);
    }
    return fields;
}

class SimProcessTest : public ::testing::Test {
protected:
    static sockaddr_in Target(const std::string& address, std::uint16_t port) {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &target.sin_addr);
        return target;
    }

    void Send(const SimProcess& sim, const Bytes& bytes) {
        peer.SendTo(Target(sim.Address(), sim.Port()), bytes);
    }

    // The next datagram from the simulator within the wait, if any.
    std::optional<Bytes> Receive(const SimProcess& sim, std::chrono::milliseconds wait = 1000ms) {
        const auto datagram = peer.Receive(wait);
        if (!datagram) {
            return std::nullopt;
        }
        EXPECT_EQ(ntohs(datagram->source.sin_port), sim.Port());
        return datagram->bytes;
    }

    std::optional<Bytes> Exchange(const SimProcess& sim, const Bytes& request,
                                  std::chrono::milliseconds wait = 1000ms) {
        Send(sim, request);
        return Receive(sim, wait);
    }

    // Nothing arrives for a while: the simulator did not answer.
    bool Quiet(const SimProcess& sim, std::chrono::milliseconds wait = 200ms) {
        return !Receive(sim, wait).has_value();
    }

    UdpPeer peer{"127.0.0.1"};
};

TEST_F(SimProcessTest, WakeThenEraseIsAnsweredByteExact) {
    SimProcess sim;
    Send(sim, wake);
    const auto reply = Exchange(sim, eraseFrame);
    ASSERT_TRUE(reply.has_value());
    EXPECT_BYTES_EQ(eraseFrame, *reply);
    EXPECT_EQ(sim.LogLines("wake", "-").size(), 1u);
    EXPECT_EQ(sim.LogLines("boot", "Erase").size(), 1u);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, FramesBeforeTheWakeAreNotAnswered) {
    SimProcess sim;
    Send(sim, eraseFrame);
    EXPECT_TRUE(Quiet(sim));
    const auto ignored = sim.LogLines("other", "-");
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(Fields(ignored[0])[5], "ignored");

    Send(sim, wake);
    EXPECT_TRUE(Exchange(sim, eraseFrame).has_value());
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, ProgramVerifyRunLeavesTheImageInTheDump) {
    // 640 bytes from 0x1D000000, a record in the boot area that must be ignored, and 4 bytes
    // through the 0x9D alias at 0x1D010000. The frame that changes the extended address
    // midway is resent, as after a lost reply.
    HexFileWriter hex;
    Bytes expected(flashSize, 0xFF);
    hex.ExtendedLinear(0x1D00);
    for (std::uint16_t i = 0; i < 40; ++i) {
        Bytes data(16);
        for (std::size_t j = 0; j < data.size(); ++j) {
            data[j] = static_cast<std::uint8_t>(i * 7 + j * 3 + 1);
        }
        hex.Data(static_cast<std::uint16_t>(i * 16), data);
        std::copy(data.begin(), data.end(), expected.begin() + i * 16);
    }
    hex.ExtendedLinear(0x1FC0);
    hex.Data(0x0000, HexBytes("0B 0B 0B 0B"));
    hex.ExtendedLinear(0x9D01);
    hex.Data(0x0000, HexBytes("10 01 04 AA"));
    std::copy_n(HexBytes("10 01 04 AA").begin(), 4, expected.begin() + 0x10000);
    hex.EndOfFile();

    SimProcess sim;
    Send(sim, wake);
    ASSERT_TRUE(Exchange(sim, eraseFrame).has_value());
    const auto frames = ProgramFrames(hex);
    ASSERT_EQ(frames.size(), 5u);
    for (const Bytes& frame : frames) {
        for (int copy = 0; copy < 2; ++copy) {
            const auto reply = Exchange(sim, frame);
            ASSERT_TRUE(reply.has_value());
            EXPECT_BYTES_EQ(programReply, *reply);
        }
    }

    const std::uint32_t length = 0x10004;
    const auto verify = Exchange(sim, VerifyFrame(0x9D000000, length));
    ASSERT_TRUE(verify.has_value());
    const auto decoded = DecodeTestFrame(*verify);
    ASSERT_TRUE(decoded.has_value()) << ToHex(*verify);
    const std::uint16_t crc = BitwiseCrc16(std::span(expected).first(length));
    EXPECT_BYTES_EQ(
        (Bytes{0x04, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)}),
        *decoded);

    EXPECT_TRUE(sim.Flash().empty());
    Send(sim, runFrame);
    EXPECT_TRUE(Quiet(sim));
    ASSERT_TRUE(sim.WaitForLog("boot", "Run"));
    const Bytes flash = sim.Flash();
    ASSERT_EQ(flash.size(), flashSize);
    // The offset of the first wrong byte; the whole flash is too large to print.
    const auto wrong = std::ranges::mismatch(expected, flash).in1 - expected.begin();
    EXPECT_EQ(wrong, static_cast<std::ptrdiff_t>(flashSize));

    const auto programs = sim.LogLines("boot", "Program");
    ASSERT_EQ(programs.size(), 10u);
    for (std::size_t i = 0; i < programs.size(); ++i) {
        EXPECT_EQ(programs[i].find("resent=1") != std::string::npos, i % 2 == 1) << programs[i];
        EXPECT_NE(programs[i].find(" records="), std::string::npos);
    }

    // Back in the application: management answered, frames not.
    const auto reply = Exchange(sim, ReadRequest());
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->size(), 73u);
    Send(sim, eraseFrame);
    EXPECT_TRUE(Quiet(sim));
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, BadVerifyAnswersAWrongCrc) {
    SimProcess sim({.args = {"--bootloader", "--bad-verify"}});
    const auto verify = Exchange(sim, VerifyFrame(0x9D000000, 0x10));
    ASSERT_TRUE(verify.has_value());
    const auto decoded = DecodeTestFrame(*verify);
    ASSERT_TRUE(decoded.has_value());
    const std::uint16_t crc = BitwiseCrc16(Bytes(16, 0xFF)) ^ 0x5A5A;
    EXPECT_BYTES_EQ(
        (Bytes{0x04, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)}),
        *decoded);
    // Everything else is answered as usual.
    const auto erase = Exchange(sim, eraseFrame);
    ASSERT_TRUE(erase.has_value());
    EXPECT_BYTES_EQ(eraseFrame, *erase);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, SilentLogsButNeverAnswers) {
    SimProcess sim({.args = {"--silent"}});
    Send(sim, ReadRequest());
    Send(sim, wake);
    Send(sim, eraseFrame);
    Send(sim, queryFrame);
    EXPECT_TRUE(Quiet(sim, 300ms));
    ASSERT_TRUE(sim.WaitForLog("boot", "Query"));
    const auto lines = sim.LogLines();
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::vector<std::string>> expected = {
        {"app", "read", "dropped"},
        {"wake", "-", "done"},
        {"boot", "Erase", "dropped"},
        {"boot", "Query", "dropped"},
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto fields = Fields(lines[i]);
        ASSERT_GE(fields.size(), 6u);
        EXPECT_EQ(std::vector<std::string>(fields.begin() + 3, fields.begin() + 6), expected[i])
            << lines[i];
    }
    EXPECT_NE(lines[2].find("reason=silent"), std::string::npos);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, DropFirstDropsTheFirstOfEachCommand) {
    SimProcess sim({.args = {"--bootloader", "--drop-first", "1"}});
    Send(sim, eraseFrame);
    EXPECT_TRUE(Quiet(sim));
    const auto erase = Exchange(sim, eraseFrame);
    ASSERT_TRUE(erase.has_value());
    EXPECT_BYTES_EQ(eraseFrame, *erase);
    // Query has a count of its own.
    Send(sim, queryFrame);
    EXPECT_TRUE(Quiet(sim));
    EXPECT_TRUE(Exchange(sim, queryFrame).has_value());
    EXPECT_TRUE(Exchange(sim, eraseFrame).has_value());

    const auto erases = sim.LogLines("boot", "Erase");
    ASSERT_EQ(erases.size(), 3u);
    EXPECT_EQ(Fields(erases[0])[5], "dropped");
    EXPECT_NE(erases[0].find("reason=drop-first"), std::string::npos);
    EXPECT_EQ(Fields(erases[1])[5], "answered");
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, DropFirstAppliesToManagementOpcodes) {
    SimProcess sim({.args = {"--drop-first", "2"}});
    Send(sim, ReadRequest());
    Send(sim, ReadRequest());
    EXPECT_TRUE(Quiet(sim));
    EXPECT_TRUE(Exchange(sim, ReadRequest()).has_value());
    // The wake string is never dropped.
    Send(sim, wake);
    ASSERT_TRUE(sim.WaitForLog("wake", "-"));
    EXPECT_EQ(Fields(sim.LogLines("wake", "-")[0])[5], "done");
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, DuplicateSendsEveryReplyTwice) {
    SimProcess sim({.args = {"--bootloader", "--duplicate"}});
    Send(sim, eraseFrame);
    const auto first = Receive(sim);
    const auto second = Receive(sim);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_BYTES_EQ(eraseFrame, *first);
    EXPECT_BYTES_EQ(eraseFrame, *second);
    EXPECT_TRUE(Quiet(sim));
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, ShortReplyCutsTheManagementReplyTo60Bytes) {
    std::optional<Bytes> full;
    {
        SimProcess normal;
        full = Exchange(normal, ReadRequest());
    }
    SimProcess sim({.args = {"--short-reply"}});
    const auto reply = Exchange(sim, ReadRequest());
    ASSERT_TRUE(full.has_value() && reply.has_value());
    ASSERT_EQ(full->size(), 73u);
    EXPECT_BYTES_EQ(Bytes(full->begin(), full->begin() + 60), *reply);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, ReadReportsTheIdentityAndKeepsWrites) {
    SimProcess sim({.args = {"--name", "IO-16DIO", "--mac", "00-50-C2-AB-CD-EF", "--app-version",
                             "2.10", "--ident", "ABCDEFGHIJKLMN", "--mask", "255.255.0.0", "--dhcp",
                             "17", "--pid", "0x0B72", "--reception-port", "4660"}});
    const auto reply = Exchange(sim, ReadRequest());
    ASSERT_TRUE(reply.has_value());
    EXPECT_BYTES_EQ(HexBytes("CA FE 20 03 00 44 00 00 00"
                             "7F 00 00 01" // the bound address
                             "FF FF 00 00"
                             "00 50 C2 AB CD EF"
                             "41 42 43 44 45 46 47 48"
                             "00 11"
                             "32 2E 31 30 00 00 00 00"
                             "49 4F 2D 31 36 44 49 4F"
                             "0B 72"
                             "12 34"
                             "00 00"
                             "DE FE 20 16"
                             "49 4A 4B 4C 4D"
                             "4E"
                             "00 00 00 00 00 00 00 00"),
                    *reply);

    Send(sim, HexBytes("CA FE 10 01 57 44 00 00 00 C0 A8 02 F2 FF FF FF 00 00 00 00 00 00 00"
                       "4C 61 62 2D 37 20 20 20 11 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                       "00 00 00 71 0B 5A 18 00 00 DE FE 20 16 20 20 20 20 20 00 00 00 00 00"
                       "00 00 00 00"));
    ASSERT_TRUE(sim.WaitForLog("app", "write"));
    EXPECT_NE(sim.LogLines("app", "write")[0].find(" done bytes=73 ip=192.168.2.242"),
              std::string::npos);
    const auto after = Exchange(sim, ReadRequest());
    ASSERT_TRUE(after.has_value());
    EXPECT_BYTES_EQ(HexBytes("C0 A8 02 F2 FF FF FF 00"),
                    Bytes(after->begin() + 9, after->begin() + 17));
    EXPECT_BYTES_EQ(HexBytes("4C 61 62 2D 37 20 20 20 00 11"),
                    Bytes(after->begin() + 23, after->begin() + 33));
    EXPECT_BYTES_EQ(HexBytes("0B 71 18 5A"), Bytes(after->begin() + 49, after->begin() + 53));
    EXPECT_BYTES_EQ(HexBytes("20 20 20 20 20 00"), Bytes(after->begin() + 59, after->begin() + 65));

    Send(sim, HexBytes("CA FE 10 01 49 35 38 32 30 33"));
    ASSERT_TRUE(sim.WaitForLog("app", "ident"));
    EXPECT_NE(sim.LogLines("app", "ident")[0].find(" done bytes=10 state=1"), std::string::npos);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, LogNamesSourceAndDestinationAddress) {
    // Bound to every address, so that the destination that the datagram carried is what tells
    // 127.0.0.2 from 127.0.0.1.
    SimProcess sim({.address = "0.0.0.0"});
    peer.SendTo(Target("127.0.0.2", sim.Port()), ReadRequest());
    const auto reply = Receive(sim);
    ASSERT_TRUE(reply.has_value());
    EXPECT_BYTES_EQ(HexBytes("00 00 00 00"), Bytes(reply->begin() + 9, reply->begin() + 13));
    peer.SendTo(Target("127.0.0.1", sim.Port()), wake);
    ASSERT_TRUE(sim.WaitForLog("wake", "-"));

    const auto lines = sim.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string source = "127\\.0\\.0\\.1:" + std::to_string(peer.Port());
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex("[0-9]+\\.[0-9]{6} " + source +
                             " 127\\.0\\.0\\.2 app read answered bytes=73 reply=73")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("[0-9]+\\.[0-9]{6} " + source +
                                                      " 127\\.0\\.0\\.1 wake - done bytes=5")))
        << lines[1];
    EXPECT_LE(std::stod(Fields(lines[0])[0]), std::stod(Fields(lines[1])[0]));
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, DelayHoldsEachReply) {
    SimProcess sim({.args = {"--bootloader", "--delay", "150"}});
    const auto sent = std::chrono::steady_clock::now();
    Send(sim, eraseFrame);
    Send(sim, queryFrame);
    const auto first = peer.Receive(2000ms);
    const auto second = peer.Receive(2000ms);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_BYTES_EQ(eraseFrame, first->bytes);
    EXPECT_GE(first->arrival - sent, 150ms);
    // Both were received at once and held side by side, not one after the other.
    EXPECT_LT(second->arrival - first->arrival, 100ms);
    EXPECT_EQ(sim.Stop(), 0);
}

// The actions logged for a burst of Query frames.
std::vector<std::string> LossPattern(const std::vector<std::string>& args, UdpPeer& peer) {
    SimProcess sim({.args = args});
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(sim.Port());
    ::inet_pton(AF_INET, "127.0.0.1", &target.sin_addr);
    for (int i = 0; i < 16; ++i) {
        peer.SendTo(target, queryFrame);
    }
    std::vector<std::string> actions;
    if (!sim.WaitForLog("boot", "Query", 16)) {
        return actions;
    }
    for (const auto& line : sim.LogLines("boot", "Query")) {
        actions.push_back(Fields(line)[5]);
    }
    std::size_t received = 0;
    while (peer.Receive(100ms)) {
        ++received;
    }
    EXPECT_EQ(received,
              static_cast<std::size_t>(std::count(actions.begin(), actions.end(), "answered")));
    EXPECT_EQ(sim.Stop(), 0);
    return actions;
}

TEST_F(SimProcessTest, LossIsReproducibleFromTheSeed) {
    const std::vector<std::string> args = {"--bootloader", "--loss", "0.5", "--seed", "3"};
    const auto first = LossPattern(args, peer);
    ASSERT_EQ(first.size(), 16u);
    const auto lost = std::count(first.begin(), first.end(), "dropped");
    EXPECT_GT(lost, 0);
    EXPECT_LT(lost, 16);
    EXPECT_EQ(first, LossPattern(args, peer));
    EXPECT_NE(first, LossPattern({"--bootloader", "--loss", "0.5", "--seed", "4"}, peer));
}

TEST_F(SimProcessTest, HelpExitsZero) {
    const SimExit result = RunSimToExit({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("Usage: vexa-sim"), std::string::npos);
    EXPECT_NE(result.output.find("--drop-first"), std::string::npos);
}

TEST_F(SimProcessTest, BadOptionsExitTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--bogus"},
             {"--port", "70000"},
             {"--address", "127.0.0.1", "--name", "TOO-LONG-NAME"}}) {
        const SimExit result = RunSimToExit(args);
        EXPECT_EQ(result.status, 2) << args[0];
        EXPECT_EQ(result.output.find("listening"), std::string::npos);
    }
}

TEST_F(SimProcessTest, TakenPortExitsTwo) {
    SimProcess first;
    const SimExit second =
        RunSimToExit({"--address", "127.0.0.1", "--port", std::to_string(first.Port())});
    EXPECT_EQ(second.status, 2);
    EXPECT_THROW(SimProcess({.port = first.Port()}), std::runtime_error);
}

TEST_F(SimProcessTest, SigtermExitsZeroAndWritesTheDump) {
    SimProcess sim({.args = {"--bootloader"}});
    HexFileWriter hex;
    hex.ExtendedLinear(0x9D00);
    hex.Data(0x0100, HexBytes("C0 FF EE"));
    const auto reply = Exchange(sim, ProgramFrames(hex)[0]);
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(sim.Flash().empty());

    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Stop(), 0);
    const Bytes flash = sim.Flash();
    ASSERT_EQ(flash.size(), flashSize);
    EXPECT_BYTES_EQ(HexBytes("FF C0 FF EE FF"), Bytes(flash.begin() + 0xFF, flash.begin() + 0x104));
    EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF), static_cast<long>(flashSize - 2));
}

TEST_F(SimProcessTest, StopWithParentEndsWhenTheParentDoes) {
    // A shell starts the simulator, tells its PID and ends; the simulator must then stop as on
    // SIGTERM, which shows as the dump it writes on exit.
    TempDir dir;
    const auto dump = dir.File("flash.bin");
    const std::string command = "'" + SimExecutable() + "' --stop-with-parent --port 0 --dump '" +
                                dump.string() + "' >/dev/null & echo pid $!; sleep 0.2";
    std::FILE* shell = ::popen(command.c_str(), "r");
    ASSERT_NE(shell, nullptr);
    pid_t pid = -1;
    char line[256];
    while (std::fgets(line, sizeof line, shell) != nullptr) {
        if (std::sscanf(line, "pid %d", &pid) == 1) {
            break;
        }
    }
    ::pclose(shell);
    ASSERT_GT(pid, 0);

    const auto end = std::chrono::steady_clock::now() + 3s;
    while (!std::filesystem::exists(dump) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
    const bool stopped = std::filesystem::exists(dump);
    if (!stopped) {
        ::kill(pid, SIGKILL);
    }
    EXPECT_TRUE(stopped);
}

TEST_F(SimProcessTest, StrayAndBadFramesAreLoggedAndNotAnswered) {
    SimProcess sim({.args = {"--bootloader"}});
    Send(sim, HexBytes("01 02 42 21 04")); // bad CRC
    Send(sim, HexBytes("01 02 42"));       // goes on in the next datagram
    const auto joined = Exchange(sim, HexBytes("20 04"));
    ASSERT_TRUE(joined.has_value());
    EXPECT_BYTES_EQ(eraseFrame, *joined);
    Send(sim, HexBytes("01 09 29 91 04")); // good CRC, unknown command
    Send(sim, wake);                       // already in the bootloader
    EXPECT_TRUE(Quiet(sim));

    const auto lines = sim.LogLines();
    ASSERT_EQ(lines.size(), 5u);
    const std::vector<std::string> expected = {
        "boot badframe ignored bytes=5 reason=crc", "boot badframe ignored bytes=3 reason=partial",
        "boot Erase answered bytes=2 reply=5",      "boot unknown ignored bytes=5 code=9",
        "wake - ignored bytes=5 reason=bootloader",
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].ends_with(expected[i])) << lines[i];
    }
    EXPECT_EQ(sim.Stop(), 0);
}

} // namespace
} // namespace ostrel::test
