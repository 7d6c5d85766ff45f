#pragma once

#include "common/UniqueFd.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ostrel {

// Wakes a thread that waits in poll() on Fd(): any thread may signal it.
class WakeEvent {
public:
    WakeEvent() : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    int Fd() const { return fd.Get(); }
    void Signal() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(fd.Get(), &one, sizeof one);
    }
    void Drain() {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(fd.Get(), &count, sizeof count);
    }

private:
    UniqueFd fd;
};

} // namespace ostrel
