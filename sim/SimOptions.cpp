#include "sim/SimOptions.h"

#include "sim/OptionValues.h"

#include <CLI/CLI.hpp>
#include <cstring>
#include <functional>
#include <vector>

namespace ostrel::sim {

namespace {

constexpr std::uint32_t MAX_DELAY_MS = 60000;
constexpr std::uint32_t MAX_DROP_FIRST = 1000000;
constexpr std::uint32_t MAX_MODULES = 4096;
constexpr std::size_t HELP_COLUMN = 23;
constexpr const char* NOT_IPV4 = "not an IPv4 address";

constexpr const char* DESCRIPTION =
    R"(Stands in for a Vexa module on UDP: its application firmware answers management datagrams,
the wake string "70814" takes it into its bootloader, which answers bootloader frames and
keeps a 5 MiB flash (0x1D000000..0x1D4FFFFF, also seen at 0x9D000000). Every datagram is
answered to its source. Stops on SIGTERM or SIGINT. Every option taking a value accepts it
as the next argument or after '='.
)";

constexpr const char* FOOTER =
    R"(On start it prints "vexa-sim listening on <ip>:<port>". Bad options or a failed bind exit
with status 2.)";

// Validators have no description, so that the help shows only the value's name. CLI11 puts
// the option's name before the message.
CLI::Validator Refusing(std::function<bool(const std::string&)> good, std::string why) {
    return CLI::Validator(
        [good = std::move(good), why = std::move(why)](const std::string& text) {
            return good(text) ? std::string() : text.empty() ? why : why + ": " + text;
        },
        "");
}

// Rewrites the number in decimal, which CLI11 then converts without a base of its own.
CLI::Validator Number(std::uint64_t max) {
    return CLI::Validator(
        [max](std::string& text) {
            const auto value = ParseNumber(text, max);
            if (!value) {
                return "not a number from 0 to " + std::to_string(max) + ": " + text;
            }
            text = std::to_string(*value);
            return std::string();
        },
        "");
}

// An option whose value parse reads into field: parse returns no value for a text it refuses.
template <typename Field, typename Parse>
void AddParsed(CLI::App& app, const std::string& name, Field& field, Parse parse,
               const std::string& why, const std::string& type, const std::string& help) {
    app.add_option_function<std::string>(
           name, [&field, parse](const std::string& text) { field = *parse(text); }, help)
        ->type_name(type)
        ->check(
            Refusing([parse](const std::string& text) { return parse(text).has_value(); }, why));
}

template <std::size_t N>
void AddText(CLI::App& app, const std::string& name, std::array<std::uint8_t, N>& field,
             const std::string& help) {
    app.add_option_function<std::string>(
           name,
           [&field](const std::string& text) {
               field.fill(0);
               std::memcpy(field.data(), text.data(), text.size());
           },
           help)
        ->type_name("TEXT")
        ->check(Refusing([](const std::string& text) { return text.size() <= N; },
                         "at most " + std::to_string(N) + " characters"));
}

template <typename T>
void AddNumber(CLI::App& app, const std::string& name, T& field, std::uint64_t max,
               const std::string& type, const std::string& help) {
    app.add_option(name, field, help)->type_name(type)->transform(Number(max));
}

void AddPath(CLI::App& app, const std::string& name, std::string& path, const std::string& help) {
    app.add_option(name, path, help)
        ->type_name("FILE")
        ->check(
            Refusing([](const std::string& text) { return !text.empty(); }, "needs a file name"));
}

void DeclareSocket(CLI::App& app, SimOptions& options) {
    app.option_defaults()->group("Socket");
    app.add_option("--address", options.address, "IPv4 address to bind (default 127.0.0.1)")
        ->type_name("A")
        ->check(Refusing([](const std::string& text) { return ParseAddress(text).has_value(); },
                         NOT_IPV4));
    AddNumber(app, "--port", options.port, 0xFFFF, "P",
              "UDP port to bind, 0 lets the system pick (default 6234)");
    AddNumber(app, "--modules", options.modules, MAX_MODULES, "N",
              "simulate N modules on consecutive addresses from --address, each with\n"
              "its own MAC (counted up from --mac), flash, seed and log lines\n"
              "(module=K); --dump FILE writes FILE.K (default 1, at most 4096)");
}

void DeclareIdentity(CLI::App& app, SimOptions& options) {
    ModuleIdentity& identity = options.identity;
    app.option_defaults()->group("Identity (reported by the management reply)");
    AddText(app, "--name", identity.moduleName,
            "module name, at most 8 characters (default VEXA-IO)");
    AddParsed(app, "--mac", identity.macAddress, ParseMac,
              "expected six hex pairs like 00-50-C2-12-34-56", "XX-XX-XX-XX-XX-XX",
              "MAC address (default 00-50-C2-12-34-56)");
    AddText(app, "--app-version", identity.versionText,
            "version text, at most 8 characters (default 1.06)");
    AddText(app, "--ident", identity.ident,
            "identification, at most 14 characters (default Lab-7)");
    AddParsed(app, "--ip", identity.ipAddress, ParseAddress, NOT_IPV4, "A",
              "reported address (default: the bound address)");
    AddParsed(app, "--mask", identity.subnetMask, ParseAddress, NOT_IPV4, "A",
              "reported subnet mask (default 255.255.255.0)");
    AddNumber(app, "--dhcp", identity.dhcpFlags, 0xFFFF, "N",
              "reported DHCP flags, 16 bits (default 0)");
    AddNumber(app, "--pid", identity.usbPid, 0xFFFF, "N",
              "USB product ID, decimal or 0x hex (default 0x0B71)");
    AddNumber(app, "--reception-port", identity.receptionPort, 0xFFFF, "N",
              "reported reception port (default 6234)");
}

void DeclareFaults(CLI::App& app, SimOptions& options) {
    app.option_defaults()->group("Faults");
    app.add_flag("--silent", options.faults.silent,
                 "receive and log, never act or answer (the wake string still wakes)");
    AddNumber(app, "--drop-first", options.faults.dropFirst, MAX_DROP_FIRST, "N",
              "drop the first N datagrams of each command (per bootloader command\n"
              "code and per management opcode R, W, I)");
    AddParsed(app, "--loss", options.faults.loss, ParseProbability, "not a probability from 0 to 1",
              "P", "drop each datagram but the wake string with probability P in [0,1]");
    AddNumber(app, "--seed", options.faults.seed, UINT64_MAX, "S", "seed of --loss (default 1)");
    AddNumber(app, "--latency,--delay", options.latency, MAX_DELAY_MS, "MS",
              "each reply leaves MS milliseconds after its command arrived, from a\n"
              "timer, while later commands are still handled (at most 60000)");
    AddNumber(app, "--jitter", options.jitter, MAX_DELAY_MS, "MS",
              "each reply's latency varies by up to MS milliseconds either way, drawn\n"
              "from --seed, so that replies may pass each other");
    AddNumber(app, "--power-loss-after", options.powerLossAfter, MAX_DROP_FIRST, "N",
              "the N-th Program frame is stored but, before it is answered, the\n"
              "module loses power: it hears nothing for --power-off, then comes back\n"
              "in its bootloader with its flash as far as it was written");
    AddNumber(app, "--power-off", options.powerOff, MAX_DELAY_MS, "MS",
              "how long the power stays off (default 2000)");
    app.add_flag("--duplicate", options.duplicate, "send every reply twice");
    app.add_flag("--bad-verify", options.badVerify, "answer Verify with the right CRC XOR 0x5A5A");
    app.add_flag("--short-reply", options.shortReply,
                 "cut the management reply to its first 60 bytes");
    app.add_flag("--ignore-writes", options.ignoreWrites, "take write requests but store nothing");
    app.add_flag("--no-app-after-run", options.noAppAfterRun,
                 "once Run has started the application, it never answers");
    AddNumber(app, "--lose-erases", options.loseErases, MAX_DROP_FIRST, "N",
              "lose the first N Erase frames (a whole first update, with N at least\n"
              "its attempts)");
    app.add_option_function<unsigned>(
           "--faulty", [&options](unsigned count) { options.faulty = count; },
           "only the first K of the --modules get the faults above, the rest are\n"
           "sound (default: all)")
        ->type_name("K")
        ->transform(Number(MAX_MODULES));
}

void DeclareOutput(CLI::App& app, SimOptions& options) {
    app.option_defaults()->group("Output");
    AddPath(app, "--log", options.logPath,
            "one line per received datagram:\n"
            "<t> <srcip>:<srcport> <dstip> <kind> <command> <action> bytes=N [key=value...]");
    AddPath(app, "--dump", options.dumpPath,
            "write the flash (5 MiB, offset 0 = 0x1D000000) on Run and on exit");
    app.add_flag("--stop-with-parent", options.stopWithParent,
                 "stop as on SIGTERM when the process that started it ends (for\n"
                 "test harnesses, so that a crashed test leaves no simulator behind)");
    app.set_help_flag("--help,-h", "show this text");
    // main prints the version.
    app.set_version_flag("--version", "", "show the simulator's own version");
}

void Declare(CLI::App& app, SimOptions& options) {
    app.name("vexa-sim");
    app.description(DESCRIPTION);
    app.footer(FOOTER);
    app.get_formatter()->column_width(HELP_COLUMN);
    // A repeated option is no mistake: the last one counts.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    DeclareSocket(app, options);
    DeclareIdentity(app, options);
    app.option_defaults()->group("Mode");
    app.add_flag("--bootloader", options.bootloader,
                 "start in the bootloader instead of the application");
    DeclareFaults(app, options);
    DeclareOutput(app, options);
}

// What CLI11 is given, last argument first as it takes them. Three things stay as they were
// before CLI11: nothing after --help or --version is read, a flag given a value is refused,
// and "--name=" gives an empty value, where CLI11 would take the next argument for it, even
// an option.
std::vector<std::string> Cli11Arguments(const CLI::App& app,
                                        std::span<const std::string_view> args) {
    std::vector<std::string> split;
    for (std::size_t next = 0; next < args.size(); ++next) {
        const std::string_view arg = args[next];
        const auto equals = arg.find('=');
        const std::string name(arg.substr(0, equals));
        const CLI::Option* option = arg.starts_with('-') ? app.get_option_no_throw(name) : nullptr;
        split.emplace_back(arg);
        if (option == nullptr) {
            continue;
        }
        if (option == app.get_help_ptr() || option == app.get_version_ptr()) {
            split.back() = name; // any value, and what follows, is not read
            break;
        }
        const bool flag = option->get_expected_max() == 0;
        if (flag && equals != arg.npos) {
            throw CLI::ArgumentMismatch(name + " takes no value");
        }
        if (equals != arg.npos && equals + 1 == arg.size()) {
            split.back() = name;
            split.emplace_back();
        } else if (!flag && equals == arg.npos && next + 1 < args.size()) {
            split.emplace_back(args[++next]); // the value, whatever it looks like
        }
    }
    return std::vector<std::string>(split.rbegin(), split.rend());
}

} // namespace

ParsedOptions ParseSimOptions(std::span<const std::string_view> args) {
    ParsedOptions parsed;
    CLI::App app;
    Declare(app, parsed.options);
    try {
        app.parse(Cli11Arguments(app, args));
        parsed.options.ipGiven = app.count("--ip") > 0;
        if (parsed.options.modules == 0) {
            throw CLI::ValidationError("--modules", "at least one module");
        }
    } catch (const CLI::CallForHelp&) {
        parsed.status = ParseStatus::Help;
    } catch (const CLI::CallForVersion&) {
        parsed.status = ParseStatus::Version;
    } catch (const CLI::ParseError& error) {
        parsed.status = ParseStatus::Error;
        parsed.error = error.what();
    }
    return parsed;
}

std::string SimHelpText() {
    SimOptions unused;
    CLI::App app;
    Declare(app, unused);
    // CLI11 leaves two blank lines between the groups; one is enough.
    std::string help = app.help();
    for (auto at = help.find("\n\n\n"); at != help.npos; at = help.find("\n\n\n", at)) {
        help.erase(at, 1);
    }
    return help;
}

} // namespace ostrel::sim
