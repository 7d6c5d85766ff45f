#include "sim/SimOptions.h"

#include "sim/FaultInjector.h"
#include "sim/SimLog.h"

#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel::sim {
namespace {

ParsedOptions Parse(std::vector<std::string_view> args) {
    return ParseSimOptions(args);
}

TEST(SimOptionsTest, Defaults) {
    const ParsedOptions parsed = Parse({});
    ASSERT_EQ(parsed.status, ParseStatus::Run);
    const SimOptions& o = parsed.options;
    EXPECT_EQ(o.address, "127.0.0.1");
    EXPECT_EQ(o.port, 6234);
    EXPECT_FALSE(o.ipGiven);
    EXPECT_FALSE(o.bootloader);
    EXPECT_FALSE(o.faults.silent);
    EXPECT_EQ(o.faults.dropFirst, 0u);
    EXPECT_EQ(o.faults.loss, 0.0);
    EXPECT_EQ(o.latency.count(), 0);
    EXPECT_FALSE(o.duplicate || o.badVerify || o.shortReply);
    EXPECT_TRUE(o.logPath.empty() && o.dumpPath.empty());
    const ModuleIdentity& id = o.identity;
    EXPECT_EQ(id.moduleName, (std::array<std::uint8_t, 8>{'V', 'E', 'X', 'A', '-', 'I', 'O', 0}));
    EXPECT_EQ(id.macAddress, (std::array<std::uint8_t, 6>{0x00, 0x50, 0xC2, 0x12, 0x34, 0x56}));
    EXPECT_EQ(id.versionText, (std::array<std::uint8_t, 8>{'1', '.', '0', '6'}));
    EXPECT_EQ(id.ident, (std::array<std::uint8_t, 14>{'L', 'a', 'b', '-', '7'}));
    EXPECT_EQ(id.subnetMask, (std::array<std::uint8_t, 4>{255, 255, 255, 0}));
    EXPECT_EQ(id.dhcpFlags, 0);
    EXPECT_EQ(id.usbPid, 0x0B71);
    EXPECT_EQ(id.receptionPort, 6234);
}

struct AcceptCase {
    std::vector<std::string_view> args;
    std::function<bool(const SimOptions&)> check;
};

TEST(SimOptionsTest, EachOptionSetsItsField) {
    const AcceptCase cases[] = {
        {{"--address", "0.0.0.0"}, [](const auto& o) { return o.address == "0.0.0.0"; }},
        {{"--address=127.0.0.5"}, [](const auto& o) { return o.address == "127.0.0.5"; }},
        {{"--port", "0"}, [](const auto& o) { return o.port == 0; }},
        {{"--port=65535"}, [](const auto& o) { return o.port == 65535; }},
        {{"--port", "010"}, [](const auto& o) { return o.port == 10; }}, // decimal, never octal
        {{"--port", "1", "--port", "2"}, [](const auto& o) { return o.port == 2; }},
        {{"--name", "IO-16DIO"},
         [](const auto& o) {
             return o.identity.moduleName ==
                    std::array<std::uint8_t, 8>{'I', 'O', '-', '1', '6', 'D', 'I', 'O'};
         }},
        {{"--name", ""}, [](const auto& o) { return o.identity.moduleName[0] == 0; }},
        {{"--name=", "--bootloader"},
         [](const auto& o) { return o.identity.moduleName[0] == 0 && o.bootloader; }},
        {{"--name", "-x"}, [](const auto& o) { return o.identity.moduleName[0] == '-'; }},
        {{"--mac", "01-02-03-0a-0B-ff"},
         [](const auto& o) {
             return o.identity.macAddress ==
                    std::array<std::uint8_t, 6>{0x01, 0x02, 0x03, 0x0A, 0x0B, 0xFF};
         }},
        {{"--mac", "AA:BB:CC:DD:EE:FF"},
         [](const auto& o) { return o.identity.macAddress[5] == 0xFF; }},
        {{"--app-version", "12345678"},
         [](const auto& o) { return o.identity.versionText[7] == '8'; }},
        {{"--ident", "ABCDEFGHIJKLMN"},
         [](const auto& o) { return o.identity.ident[0] == 'A' && o.identity.ident[13] == 'N'; }},
        {{"--ip", "192.168.2.50"},
         [](const auto& o) {
             return o.ipGiven &&
                    o.identity.ipAddress == std::array<std::uint8_t, 4>{192, 168, 2, 50};
         }},
        {{"--mask", "255.255.0.0"},
         [](const auto& o) {
             return o.identity.subnetMask == std::array<std::uint8_t, 4>{255, 255, 0, 0};
         }},
        {{"--dhcp", "17"}, [](const auto& o) { return o.identity.dhcpFlags == 17; }},
        {{"--pid", "0x0C00"}, [](const auto& o) { return o.identity.usbPid == 0x0C00; }},
        {{"--pid", "2929"}, [](const auto& o) { return o.identity.usbPid == 2929; }},
        {{"--reception-port", "6235"},
         [](const auto& o) { return o.identity.receptionPort == 6235; }},
        {{"--bootloader"}, [](const auto& o) { return o.bootloader; }},
        {{"--silent"}, [](const auto& o) { return o.faults.silent; }},
        {{"--drop-first", "2"}, [](const auto& o) { return o.faults.dropFirst == 2; }},
        {{"--loss", "0.25", "--seed", "7"},
         [](const auto& o) { return o.faults.loss == 0.25 && o.faults.seed == 7; }},
        {{"--loss", "1"}, [](const auto& o) { return o.faults.loss == 1.0; }},
        {{"--delay", "50"},
         [](const auto& o) { return o.latency == std::chrono::milliseconds(50); }},
        {{"--latency", "800", "--jitter", "200"},
         [](const auto& o) { return o.latency.count() == 800 && o.jitter.count() == 200; }},
        {{"--power-loss-after", "3", "--power-off", "500"},
         [](const auto& o) { return o.powerLossAfter == 3 && o.powerOff.count() == 500; }},
        {{"--duplicate"}, [](const auto& o) { return o.duplicate; }},
        {{"--bad-verify"}, [](const auto& o) { return o.badVerify; }},
        {{"--short-reply"}, [](const auto& o) { return o.shortReply; }},
        {{"--ignore-writes"}, [](const auto& o) { return o.ignoreWrites; }},
        {{"--no-app-after-run"}, [](const auto& o) { return o.noAppAfterRun; }},
        {{"--lose-erases", "3"}, [](const auto& o) { return o.loseErases == 3; }},
        {{"--stop-with-parent"}, [](const auto& o) { return o.stopWithParent; }},
        {{"--log", "/tmp/a.log", "--dump=/tmp/b.bin"},
         [](const auto& o) { return o.logPath == "/tmp/a.log" && o.dumpPath == "/tmp/b.bin"; }},
    };
    for (const AcceptCase& c : cases) {
        const ParsedOptions parsed = Parse(c.args);
        ASSERT_EQ(parsed.status, ParseStatus::Run) << c.args[0] << ": " << parsed.error;
        EXPECT_TRUE(c.check(parsed.options)) << c.args[0];
    }
}

TEST(SimOptionsTest, BadOptionsAreRefusedWithAMessage) {
    // Each message names the option, or the argument nobody takes, and why.
    const std::pair<std::vector<std::string_view>, std::string_view> cases[] = {
        {{"--bogus"}, "not expected: --bogus"},
        {{"bootloader"}, "not expected: bootloader"},
        {{"--port"}, "--port: 1 required P missing"},
        {{"--port", "65536"}, "--port: not a number from 0 to 65535: 65536"},
        {{"--port", "abc"}, "--port: not a number"},
        {{"--port", "-1"}, "--port: not a number"},
        {{"--port", "0x"}, "--port: not a number"},
        {{"--port", " 5"}, "--port: not a number"},
        {{"--port="}, "--port: not a number"},
        {{"--address", "1.2.3"}, "--address: not an IPv4 address: 1.2.3"},
        {{"--address", "localhost"}, "--address: not an IPv4 address"},
        {{"--name", "NINECHARS"}, "--name: at most 8 characters"},
        {{"--app-version", "123456789"}, "--app-version: at most 8 characters"},
        {{"--ident", "ABCDEFGHIJKLMNO"}, "--ident: at most 14 characters"},
        {{"--mac", "00-50-C2-12-34"}, "--mac: expected six hex pairs"},
        {{"--mac", "00-50-C2-12-34-5G"}, "--mac: expected six hex pairs"},
        {{"--mac", "00_50_C2_12_34_56"}, "--mac: expected six hex pairs"},
        {{"--ip", "300.1.1.1"}, "--ip: not an IPv4 address"},
        {{"--mask"}, "--mask: 1 required A missing"},
        {{"--dhcp", "65536"}, "--dhcp: not a number from 0 to 65535"},
        {{"--pid", "0x10000"}, "--pid: not a number from 0 to 65535"},
        {{"--drop-first", "x"}, "--drop-first: not a number from 0 to 1000000"},
        {{"--loss", "1.5"}, "--loss: not a probability from 0 to 1"},
        {{"--loss", "-0.1"}, "--loss: not a probability"},
        {{"--loss", "nan"}, "--loss: not a probability"},
        {{"--loss", "0.5x"}, "--loss: not a probability"},
        {{"--delay", "60001"}, "--latency: not a number from 0 to 60000"},
        {{"--power-off", "60001"}, "--power-off: not a number from 0 to 60000"},
        {{"--bootloader=1"}, "--bootloader takes no value"},
        {{"--silent=true"}, "--silent takes no value"},
        {{"--log", ""}, "--log: needs a file name"},
        {{"--log="}, "--log: needs a file name"},
        {{"--port", "0", "--nonsense"}, "not expected: --nonsense"},
    };
    for (const auto& [args, message] : cases) {
        const ParsedOptions parsed = Parse(args);
        EXPECT_EQ(parsed.status, ParseStatus::Error) << args[0];
        EXPECT_NE(parsed.error.find(message), std::string::npos) << args[0] << ": " << parsed.error;
    }
}

// The names on the help's option lines: "  --latency,--delay MS ..." gives both.
std::set<std::string> DocumentedOptions(const std::string& help) {
    std::set<std::string> names;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("  -")) {
            continue;
        }
        std::istringstream list(line.substr(2, line.find(' ', 2) - 2));
        for (std::string name; std::getline(list, name, ',');) {
            names.insert(name);
        }
    }
    return names;
}

TEST(SimOptionsTest, HelpWinsAndDocumentsEveryOption) {
    EXPECT_EQ(Parse({"--help"}).status, ParseStatus::Help);
    EXPECT_EQ(Parse({"--port", "0", "-h"}).status, ParseStatus::Help);
    EXPECT_EQ(Parse({"--help", "--bogus"}).status, ParseStatus::Help);
    EXPECT_EQ(Parse({"--version", "--port", "x"}).status, ParseStatus::Version);
    const std::string help = SimHelpText();
    EXPECT_TRUE(help.starts_with("Stands in for a Vexa module")) << help;
    for (const char* text :
         {"Usage: vexa-sim", "\nSocket:\n", "\nIdentity", "\nMode:\n", "\nFaults:\n", "\nOutput:\n",
          "<kind> <command> <action>", "vexa-sim listening on", "exit\nwith status 2"}) {
        EXPECT_NE(help.find(text), std::string::npos) << text;
    }
    std::istringstream names(
        "--address --port --name --mac --app-version --ident --ip --mask --dhcp --pid "
        "--reception-port --bootloader --silent --drop-first --loss --seed --latency --delay "
        "--jitter --power-loss-after --power-off --duplicate --bad-verify --short-reply "
        "--ignore-writes --no-app-after-run --lose-erases --modules --faulty --log --dump "
        "--stop-with-parent "
        "--help -h --version");
    const std::set<std::string> every{std::istream_iterator<std::string>(names), {}};
    EXPECT_EQ(DocumentedOptions(help), every);
    for (const std::string& option : every) {
        // And the parser knows it: it is refused for a missing value or taken, never unknown.
        const ParsedOptions parsed = Parse({option});
        EXPECT_EQ(parsed.error.find("not expected"), std::string::npos) << option;
    }
}

TEST(FaultInjectorTest, DropFirstCountsEachCommandOnItsOwn) {
    FaultInjector faults(FaultSettings{false, 2, 0.0, 1});
    const std::pair<const char*, bool> sequence[] = {
        {"boot:2", true},  {"boot:3", true},  {"boot:2", true},  {"app:R", true},
        {"boot:2", false}, {"boot:3", true},  {"boot:3", false}, {"app:R", true},
        {"app:R", false},  {"boot:2", false}, {"boot:4", true},
    };
    for (const auto& [key, dropped] : sequence) {
        EXPECT_FALSE(faults.Lose().has_value());
        EXPECT_EQ(faults.DropFirst(key), dropped) << key;
    }
}

TEST(FaultInjectorTest, NoDropFirstByDefault) {
    FaultInjector faults(FaultSettings{});
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(faults.DropFirst("boot:2"));
        EXPECT_FALSE(faults.Lose().has_value());
    }
}

std::vector<bool> LossPattern(double loss, std::uint64_t seed, int count) {
    FaultInjector faults(FaultSettings{false, 0, loss, seed});
    std::vector<bool> lost;
    for (int i = 0; i < count; ++i) {
        const auto reason = faults.Lose();
        lost.push_back(reason.has_value());
        if (reason) {
            EXPECT_EQ(*reason, "loss");
        }
    }
    return lost;
}

TEST(FaultInjectorTest, LossIsReproducibleFromTheSeed) {
    const auto first = LossPattern(0.3, 42, 2000);
    EXPECT_EQ(first, LossPattern(0.3, 42, 2000));
    EXPECT_NE(first, LossPattern(0.3, 43, 2000));
    const auto lost = std::count(first.begin(), first.end(), true);
    EXPECT_GT(lost, 500);
    EXPECT_LT(lost, 700);
}

TEST(FaultInjectorTest, LossBounds) {
    const auto none = LossPattern(0.0, 9, 500);
    const auto all = LossPattern(1.0, 9, 500);
    EXPECT_EQ(std::count(none.begin(), none.end(), true), 0);
    EXPECT_EQ(std::count(all.begin(), all.end(), true), 500);
}

TEST(FaultInjectorTest, SilentLosesEverything) {
    FaultInjector faults(FaultSettings{true, 0, 0.0, 1});
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(faults.Lose(), std::optional<std::string_view>("silent"));
    }
}

TEST(SimLogTest, LineFormat) {
    struct Case {
        std::chrono::nanoseconds time;
        LogEntry entry;
        std::string line;
    };
    const Case cases[] = {
        {std::chrono::microseconds(1234567),
         {"127.0.0.1:40000", "127.0.0.1", "boot", "Erase", "answered", 5, ""},
         "1.234567 127.0.0.1:40000 127.0.0.1 boot Erase answered bytes=5"},
        {std::chrono::nanoseconds(999),
         {"10.0.0.2:6234", "255.255.255.255", "app", "read", "answered", 73, " reply=73"},
         "0.000000 10.0.0.2:6234 255.255.255.255 app read answered bytes=73 reply=73"},
        {std::chrono::seconds(12) + std::chrono::microseconds(5),
         {"127.0.0.1:1", "127.0.0.2", "wake", "-", "done", 5, ""},
         "12.000005 127.0.0.1:1 127.0.0.2 wake - done bytes=5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatLogLine(c.time, c.entry), c.line);
    }
}

} // namespace
} // namespace ostrel::sim
