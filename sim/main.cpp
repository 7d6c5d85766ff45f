#include "common/UniqueFd.h"
#include "common/Version.h"
#include "sim/SimOptions.h"
#include "sim/SimulatedModules.h"

#include <csignal>
#include <cstdio>
#include <string_view>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int EXIT_BAD_USAGE = 2;

} // namespace

int main(int argc, char** argv) {
    using namespace ostrel::sim;

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedOptions parsed = ParseSimOptions(args);
    if (parsed.status == ParseStatus::Help) {
        std::fputs(SimHelpText().c_str(), stdout);
        return 0;
    }
    if (parsed.status == ParseStatus::Version) {
        std::printf("vexa-sim %s\n", ostrel::programVersion);
        return 0;
    }
    if (parsed.status == ParseStatus::Error) {
        std::fprintf(stderr, "vexa-sim: %s\nTry 'vexa-sim --help'.\n", parsed.error.c_str());
        return EXIT_BAD_USAGE;
    }

    // Stop requests arrive through a descriptor in the poll set, so no handler and no global
    // flag are needed.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::perror("vexa-sim: sigprocmask");
        return 1;
    }
    if (parsed.options.stopWithParent) {
        // The parent may already have gone between fork and here; then stop at once.
        const pid_t parent = getppid();
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) {
            raise(SIGTERM);
        }
    }
    const ostrel::UniqueFd stop(signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!stop.IsValid()) {
        std::perror("vexa-sim: signalfd");
        return 1;
    }

    SimulatedModules simulator(parsed.options);
    if (const auto error = simulator.Open()) {
        std::fprintf(stderr, "vexa-sim: %s\n", error->c_str());
        return EXIT_BAD_USAGE;
    }
    std::printf("vexa-sim listening on %s\n", simulator.Listening().c_str());
    std::fflush(stdout);
    return simulator.Run(stop.Get());
}
