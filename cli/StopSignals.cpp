#include "cli/StopSignals.h"

#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>

namespace ostrel::cli {

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

StopSignals::StopSignals() {
    const sigset_t set = StopSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd.Reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

bool StopSignals::Pending() const {
    pollfd entry{fd.Get(), POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

} // namespace ostrel::cli
