#include "app/CommandLine.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

constexpr DeviceAddress storedAddress = 0xC0A802F2; // 192.168.2.242

struct CommandLineCase {
    const char* name;
    const char* text;
    bool automatic;
    const char* fileName;
    DeviceAddress startAddress;
    std::vector<std::string> storedPaths;
};

class ParseCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(ParseCommandLineTest, ScansOptions) {
    const CommandLineCase& c = GetParam();
    std::vector<std::string> stored;
    const CommandLineOptions options = ParseCommandLine(
        c.text, storedAddress, [&](const std::string& path) { stored.push_back(path); });
    EXPECT_EQ(options.automatic, c.automatic);
    EXPECT_EQ(options.fileName, c.fileName);
    EXPECT_EQ(options.startAddress, c.startAddress);
    EXPECT_EQ(stored, c.storedPaths);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseCommandLineTest,
    ::testing::Values(
        CommandLineCase{"Empty", "", false, "", storedAddress, {}},
        CommandLineCase{"OnlyBlanks", "   \t ", false, "", storedAddress, {}},
        CommandLineCase{"LowerCaseA", "-a", true, "", storedAddress, {}},
        CommandLineCase{
            "FileStoredAtOnce", "-Ffile.hex", false, "file.hex", storedAddress, {"file.hex"}},
        CommandLineCase{"FileAfterBlankIsIgnored", "-F file.hex", false, "", storedAddress, {""}},
        CommandLineCase{"FileAtEnd", "-A -f", true, "", storedAddress, {""}},
        CommandLineCase{"HyphenInsideFile",
                        "-Fc:\\fw\\new-2.hex -A",
                        true,
                        "c:\\fw\\new-2.hex",
                        storedAddress,
                        {"c:\\fw\\new-2.hex"}},
        CommandLineCase{"QuotesAreOrdinary", "-F\"a b.hex\"", false, "\"a", storedAddress, {"\"a"}},
        CommandLineCase{"LastFileWinsEveryFileStored",
                        "-Fone.hex -ftwo.hex",
                        false,
                        "two.hex",
                        storedAddress,
                        {"one.hex", "two.hex"}},
        CommandLineCase{"AddressThenAutomatic", "-I192.168.2.9 -A", true, "", 0xC0A80209, {}},
        CommandLineCase{"AddressAfterBlank", "-I 192.168.2.9", false, "", 0xC0A80209, {}},
        CommandLineCase{"LastAddressWins", "-I10.0.0.1 -i10.0.0.2", false, "", 0x0A000002, {}},
        CommandLineCase{"EmptyAddressIsZero", "-I", false, "", 0, {}},
        CommandLineCase{"UnknownOptionSkipsWord", "-x-A -A", true, "", storedAddress, {}},
        CommandLineCase{"UnknownOnlySkipsItsWord", "-xA", false, "", storedAddress, {}},
        CommandLineCase{"LoneHyphen", "- -A", true, "", storedAddress, {}},
        CommandLineCase{"HyphenInsideWordStartsOption", "fw-a", true, "", storedAddress, {}},
        CommandLineCase{"OtherLetterInsideWord", "x-y -A", true, "", storedAddress, {}},
        CommandLineCase{"OneOptionPerWord", "-A-I10.0.0.1", true, "", storedAddress, {}},
        CommandLineCase{
            "AllThree", "-A -Fnew.hex -I192.168.2.50", true, "new.hex", 0xC0A80232, {"new.hex"}},
        CommandLineCase{"TabsAndNewlinesSeparate",
                        "-Fa.hex\t-A\n-I1.2.3.4",
                        true,
                        "a.hex",
                        0x01020304,
                        {"a.hex"}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace ostrel
