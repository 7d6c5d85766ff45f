#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace ostrel::test {

// Whether this process runs in a network namespace that a launcher script made, not in the
// one it was started from (which the script names in OSTREL_OUTSIDE_NETNS): only there may a
// test broadcast.
inline bool InALaunchersNetworkNamespace() {
    const char* outside = std::getenv("OSTREL_OUTSIDE_NETNS");
    return outside != nullptr && *outside != '\0' &&
           std::filesystem::read_symlink("/proc/self/ns/net").string() != outside;
}

} // namespace ostrel::test
