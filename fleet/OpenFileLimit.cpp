#include "fleet/OpenFileLimit.h"

#include <sys/resource.h>

namespace ostrel {

namespace {

constexpr std::size_t filesPerModule = 4;
constexpr std::size_t filesBeside = 64; // standard streams, the ledger, a trace, the loop's own

} // namespace

std::optional<std::string> RaiseOpenFileLimitFor(std::size_t modulesAtOnce) {
    const rlim_t needed = modulesAtOnce * filesPerModule + filesBeside;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed) {
        return std::nullopt;
    }
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) {
        const rlim_t fit =
            limit.rlim_max > filesBeside ? (limit.rlim_max - filesBeside) / filesPerModule : 0;
        return std::to_string(modulesAtOnce) + " modules at once need " + std::to_string(needed) +
               " open files, but this process may open at most " + std::to_string(limit.rlim_max) +
               " (the hard limit, ulimit -Hn): raise it" +
               (fit > 0 ? ", or update at most " + std::to_string(fit) + " at once with --parallel"
                        : std::string());
    }
    limit.rlim_cur = needed;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return "cannot raise the open-file limit to " + std::to_string(needed);
    }
    return std::nullopt;
}

} // namespace ostrel
