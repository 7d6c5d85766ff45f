#include "sim/SimulatedModules.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/epoll.h>

namespace ostrel::sim {

namespace {

// The stop descriptor's mark in the epoll set; modules are marked by their index.
constexpr std::uint64_t stopMark = ~std::uint64_t{0};

// The options of a sound module: the same identity and mode, none of the faults.
void WithoutFaults(SimOptions& module) {
    const std::uint64_t seed = module.faults.seed;
    module.faults = FaultSettings{};
    module.faults.seed = seed;
    module.latency = module.jitter = std::chrono::milliseconds(0);
    module.powerLossAfter = 0;
    module.duplicate = module.badVerify = module.shortReply = false;
    module.ignoreWrites = module.noAppAfterRun = false;
    module.loseErases = 0;
}

// Adds n to the bytes as one big-endian number (an address's octets, a MAC's last three).
template <std::size_t Size>
void AddTo(std::array<std::uint8_t, Size>& bytes, std::size_t from, unsigned n) {
    for (std::size_t i = Size; i-- > from && n != 0;) {
        const unsigned sum = bytes[i] + (n & 0xFF);
        bytes[i] = static_cast<std::uint8_t>(sum);
        n = (n >> 8) + (sum >> 8);
    }
}

} // namespace

SimulatedModules::SimulatedModules(const SimOptions& chosen)
    : options(chosen), log(std::chrono::steady_clock::now()),
      scratch(ModuleSimulator::scratchSize) {}

SimOptions SimulatedModules::ModuleOptions(unsigned index) const {
    SimOptions module = options;
    if (options.modules == 1) {
        return module;
    }
    in_addr address{};
    ::inet_pton(AF_INET, options.address.c_str(), &address);
    address.s_addr = htonl(ntohl(address.s_addr) + index);
    char text[INET_ADDRSTRLEN] = {};
    module.address = ::inet_ntop(AF_INET, &address, text, sizeof text);
    AddTo(module.identity.macAddress, 3, index);
    if (options.ipGiven) {
        AddTo(module.identity.ipAddress, 0, index);
    }
    module.faults.seed = options.faults.seed + index;
    if (!options.dumpPath.empty()) {
        module.dumpPath = options.dumpPath + "." + std::to_string(index + 1);
    }
    if (index >= options.faulty.value_or(options.modules)) {
        WithoutFaults(module);
    }
    return module;
}

std::optional<std::string> SimulatedModules::Open() {
    if (!options.logPath.empty() && !log.Open(options.logPath)) {
        return "cannot write the log " + options.logPath;
    }
    poller = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
    if (!poller.IsValid()) {
        return std::string("epoll: ") + std::strerror(errno);
    }
    for (unsigned index = 0; index < options.modules; ++index) {
        const std::string tag =
            options.modules == 1 ? std::string() : " module=" + std::to_string(index + 1);
        modules.push_back(std::make_unique<ModuleSimulator>(ModuleOptions(index), log, tag));
        if (auto error = modules.back()->Open()) {
            return error;
        }
        epoll_event watch{EPOLLIN, {.u64 = index}};
        if (::epoll_ctl(poller.Get(), EPOLL_CTL_ADD, modules.back()->Fd(), &watch) != 0) {
            return std::string("epoll: ") + std::strerror(errno);
        }
    }
    return std::nullopt;
}

std::string SimulatedModules::Listening() const {
    std::string text = modules.front()->LocalEndpoint();
    if (modules.size() > 1) {
        const std::string last = modules.back()->LocalEndpoint();
        text += " and " + std::to_string(modules.size() - 1) + " more, to " +
                last.substr(0, last.rfind(':'));
    }
    return text;
}

std::optional<timespec> SimulatedModules::NextReplyDue() {
    std::optional<timespec> soonest;
    for (auto at = waiting.begin(); at != waiting.end();) {
        const auto due = modules[*at]->ReplyDueIn();
        if (!due) {
            at = waiting.erase(at);
            continue;
        }
        if (!soonest || due->tv_sec < soonest->tv_sec ||
            (due->tv_sec == soonest->tv_sec && due->tv_nsec < soonest->tv_nsec)) {
            soonest = due;
        }
        ++at;
    }
    return soonest;
}

int SimulatedModules::Run(int stopFd) {
    epoll_event watchStop{EPOLLIN, {.u64 = stopMark}};
    ::epoll_ctl(poller.Get(), EPOLL_CTL_ADD, stopFd, &watchStop);
    std::array<epoll_event, 256> ready{};
    for (bool stopped = false; !stopped;) {
        const auto timeout = NextReplyDue();
        const int count = ::epoll_pwait2(poller.Get(), ready.data(), static_cast<int>(ready.size()),
                                         timeout ? &*timeout : nullptr, nullptr);
        if (count < 0 && errno != EINTR) {
            std::perror("vexa-sim: epoll");
            break;
        }
        for (int i = 0; i < count; ++i) {
            if (ready[static_cast<std::size_t>(i)].data.u64 == stopMark) {
                stopped = true;
                continue;
            }
            const auto index =
                static_cast<std::size_t>(ready[static_cast<std::size_t>(i)].data.u64);
            modules[index]->OnReadable(scratch);
            if (modules[index]->ReplyDueIn()) {
                waiting.insert(index);
            }
        }
        for (const std::size_t index : waiting) {
            modules[index]->SendDueReplies();
        }
    }
    bool dumped = true;
    for (const auto& module : modules) {
        dumped = module->WriteDump() && dumped;
    }
    return dumped ? 0 : 1;
}

} // namespace ostrel::sim
