#include "sim/SimOptions.h"

#include <arpa/inet.h>
#include <charconv>
#include <cstring>
#include <optional>

namespace ostrel::sim {

namespace {

constexpr std::uint32_t MAX_DELAY_MS = 60000;
constexpr std::uint32_t MAX_DROP_FIRST = 1000000;

// Decimal, or hexadecimal after 0x.
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::array<std::uint8_t, 4>> ParseAddress(std::string_view text) {
    const std::string copy(text);
    in_addr address{};
    if (::inet_pton(AF_INET, copy.c_str(), &address) != 1) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 4> octets{};
    std::memcpy(octets.data(), &address.s_addr, octets.size());
    return octets;
}

std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text) {
    std::array<std::uint8_t, 6> mac{};
    if (text.size() != 17) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = 3 * i;
        if (i > 0 && text[at - 1] != '-' && text[at - 1] != ':') {
            return std::nullopt;
        }
        const auto [end, error] =
            std::from_chars(text.data() + at, text.data() + at + 2, mac[i], 16);
        if (error != std::errc() || end != text.data() + at + 2) {
            return std::nullopt;
        }
    }
    return mac;
}

template <std::size_t N>
bool CopyText(std::string_view text, std::array<std::uint8_t, N>& field) {
    if (text.size() > N) {
        return false;
    }
    field.fill(0);
    std::memcpy(field.data(), text.data(), text.size());
    return true;
}

class Parser {
public:
    explicit Parser(std::span<const std::string_view> arguments) : args(arguments) {}

    ParsedOptions Parse() {
        ParsedOptions parsed;
        for (next = 0; next < args.size() && parsed.status == ParseStatus::Run;) {
            std::string_view name = args[next++];
            inlineValue.reset();
            if (const auto equals = name.find('='); name.starts_with("--") && equals != name.npos) {
                inlineValue = name.substr(equals + 1);
                name = name.substr(0, equals);
            }
            if (name == "--help" || name == "-h") {
                parsed.status = ParseStatus::Help;
            } else if (name == "--version") {
                parsed.status = ParseStatus::Version;
            } else if (!Apply(name, parsed.options)) {
                parsed.status = ParseStatus::Error;
                parsed.error = failure;
            }
        }
        return parsed;
    }

private:
    bool Fail(std::string text) {
        failure = std::move(text);
        return false;
    }

    std::optional<std::string_view> Value(std::string_view name) {
        if (inlineValue) {
            return inlineValue;
        }
        if (next >= args.size()) {
            Fail(std::string(name) + " needs a value");
            return std::nullopt;
        }
        return args[next++];
    }

    bool Flag(std::string_view name, bool& flag) {
        if (inlineValue) {
            return Fail(std::string(name) + " takes no value");
        }
        flag = true;
        return true;
    }

    template <typename T>
    bool Number(std::string_view name, std::uint64_t max, T& target) {
        const auto text = Value(name);
        if (!text) {
            return false;
        }
        const auto value = ParseNumber(*text, max);
        if (!value) {
            return Fail(std::string(name) + ": not a number from 0 to " + std::to_string(max) +
                        ": " + std::string(*text));
        }
        target = static_cast<T>(*value);
        return true;
    }

    bool Address(std::string_view name, std::array<std::uint8_t, 4>& target) {
        const auto text = Value(name);
        if (!text) {
            return false;
        }
        const auto octets = ParseAddress(*text);
        if (!octets) {
            return Fail(std::string(name) + ": not an IPv4 address: " + std::string(*text));
        }
        target = *octets;
        return true;
    }

    template <std::size_t N>
    bool Text(std::string_view name, std::array<std::uint8_t, N>& field) {
        const auto text = Value(name);
        if (!text) {
            return false;
        }
        if (!CopyText(*text, field)) {
            return Fail(std::string(name) + ": at most " + std::to_string(N) + " characters");
        }
        return true;
    }

    bool Path(std::string_view name, std::string& path) {
        const auto text = Value(name);
        if (!text) {
            return false;
        }
        if (text->empty()) {
            return Fail(std::string(name) + " needs a file name");
        }
        path = *text;
        return true;
    }

    bool Apply(std::string_view name, SimOptions& options) {
        auto& identity = options.identity;
        if (name == "--address") {
            const auto text = Value(name);
            if (!text) {
                return false;
            }
            if (!ParseAddress(*text)) {
                return Fail("--address: not an IPv4 address: " + std::string(*text));
            }
            options.address = *text;
            return true;
        }
        if (name == "--port") {
            return Number(name, 0xFFFF, options.port);
        }
        if (name == "--name") {
            return Text(name, identity.moduleName);
        }
        if (name == "--app-version") {
            return Text(name, identity.versionText);
        }
        if (name == "--ident") {
            return Text(name, identity.ident);
        }
        if (name == "--mac") {
            const auto text = Value(name);
            if (!text) {
                return false;
            }
            const auto mac = ParseMac(*text);
            if (!mac) {
                return Fail("--mac: expected six hex pairs like 00-50-C2-12-34-56: " +
                            std::string(*text));
            }
            identity.macAddress = *mac;
            return true;
        }
        if (name == "--ip") {
            options.ipGiven = true;
            return Address(name, identity.ipAddress);
        }
        if (name == "--mask") {
            return Address(name, identity.subnetMask);
        }
        if (name == "--dhcp") {
            return Number(name, 0xFFFF, identity.dhcpFlags);
        }
        if (name == "--pid") {
            return Number(name, 0xFFFF, identity.usbPid);
        }
        if (name == "--reception-port") {
            return Number(name, 0xFFFF, identity.receptionPort);
        }
        if (name == "--bootloader") {
            return Flag(name, options.bootloader);
        }
        if (name == "--silent") {
            return Flag(name, options.faults.silent);
        }
        if (name == "--drop-first") {
            return Number(name, MAX_DROP_FIRST, options.faults.dropFirst);
        }
        if (name == "--loss") {
            const auto text = Value(name);
            if (!text) {
                return false;
            }
            double loss = -1;
            const auto [end, status] =
                std::from_chars(text->data(), text->data() + text->size(), loss);
            if (status != std::errc() || end != text->data() + text->size() || !(loss >= 0.0) ||
                !(loss <= 1.0)) {
                return Fail("--loss: not a probability from 0 to 1: " + std::string(*text));
            }
            options.faults.loss = loss;
            return true;
        }
        if (name == "--seed") {
            return Number(name, UINT64_MAX, options.faults.seed);
        }
        if (name == "--latency" || name == "--delay") {
            return Milliseconds(name, options.latency);
        }
        if (name == "--jitter") {
            return Milliseconds(name, options.jitter);
        }
        if (name == "--power-loss-after") {
            return Number(name, MAX_DROP_FIRST, options.powerLossAfter);
        }
        if (name == "--power-off") {
            return Milliseconds(name, options.powerOff);
        }
        if (name == "--duplicate") {
            return Flag(name, options.duplicate);
        }
        if (name == "--bad-verify") {
            return Flag(name, options.badVerify);
        }
        if (name == "--short-reply") {
            return Flag(name, options.shortReply);
        }
        if (name == "--ignore-writes") {
            return Flag(name, options.ignoreWrites);
        }
        if (name == "--no-app-after-run") {
            return Flag(name, options.noAppAfterRun);
        }
        if (name == "--lose-erases") {
            return Number(name, MAX_DROP_FIRST, options.loseErases);
        }
        if (name == "--stop-with-parent") {
            return Flag(name, options.stopWithParent);
        }
        if (name == "--log") {
            return Path(name, options.logPath);
        }
        if (name == "--dump") {
            return Path(name, options.dumpPath);
        }
        return Fail("unknown option: " + std::string(name));
    }

    bool Milliseconds(std::string_view name, std::chrono::milliseconds& target) {
        std::uint32_t milliseconds = 0;
        if (!Number(name, MAX_DELAY_MS, milliseconds)) {
            return false;
        }
        target = std::chrono::milliseconds(milliseconds);
        return true;
    }

    std::span<const std::string_view> args;
    std::size_t next = 0;
    std::optional<std::string_view> inlineValue;
    std::string failure;
};

} // namespace

ParsedOptions ParseSimOptions(std::span<const std::string_view> args) {
    return Parser(args).Parse();
}

std::string SimHelpText() {
    return R"(Usage: vexa-sim [options]

Stands in for a Vexa module on UDP: its application firmware answers management datagrams,
the wake string "70814" takes it into its bootloader, which answers bootloader frames and
keeps a 5 MiB flash (0x1D000000..0x1D4FFFFF, also seen at 0x9D000000). Every datagram is
answered to its source. Stops on SIGTERM or SIGINT.

Socket:
  --address A          IPv4 address to bind (default 127.0.0.1)
  --port P             UDP port to bind, 0 lets the system pick (default 6234)

Identity (reported by the management reply):
  --name TEXT          module name, at most 8 characters (default VEXA-IO)
  --mac XX-XX-XX-XX-XX-XX
                       MAC address (default 00-50-C2-12-34-56)
  --app-version TEXT   version text, at most 8 characters (default 1.06)
  --ident TEXT         identification, at most 14 characters (default Lab-7)
  --ip A               reported address (default: the bound address)
  --mask A             reported subnet mask (default 255.255.255.0)
  --dhcp N             reported DHCP flags, 16 bits (default 0)
  --pid N              USB product ID, decimal or 0x hex (default 0x0B71)
  --reception-port N   reported reception port (default 6234)

Mode:
  --bootloader         start in the bootloader instead of the application

Faults:
  --silent             receive and log, never act or answer (the wake string still wakes)
  --drop-first N       drop the first N datagrams of each command (per bootloader command
                       code and per management opcode R, W, I)
  --loss P             drop each datagram but the wake string with probability P in [0,1]
  --seed S             seed of --loss (default 1)
  --latency MS         each reply leaves MS milliseconds after its command arrived, from a
                       timer, while later commands are still handled (at most 60000)
  --delay MS           the same as --latency
  --jitter MS          each reply's latency varies by up to MS milliseconds either way, drawn
                       from --seed, so that replies may pass each other
  --power-loss-after N the N-th Program frame is stored but, before it is answered, the
                       module loses power: it hears nothing for --power-off, then comes back
                       in its bootloader with its flash as far as it was written
  --power-off MS       how long the power stays off (default 2000)
  --duplicate          send every reply twice
  --bad-verify         answer Verify with the right CRC XOR 0x5A5A
  --short-reply        cut the management reply to its first 60 bytes
  --ignore-writes      take write requests but store nothing
  --no-app-after-run   once Run has started the application, it never answers
  --lose-erases N      lose the first N Erase frames (a whole first update, with N at least
                       its attempts)

Output:
  --log FILE           one line per received datagram:
                       <t> <srcip>:<srcport> <dstip> <kind> <command> <action> bytes=N [key=value...]
  --dump FILE          write the flash (5 MiB, offset 0 = 0x1D000000) on Run and on exit
  --stop-with-parent   stop as on SIGTERM when the process that started it ends (for
                       test harnesses, so that a crashed test leaves no simulator behind)
  --help, -h           show this text
  --version            show the simulator's own version

On start it prints "vexa-sim listening on <ip>:<port>". Bad options or a failed bind exit
with status 2.
)";
}

} // namespace ostrel::sim
