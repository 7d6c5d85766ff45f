#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace ostrel {

// Each module updated at once holds a few descriptors (its link's socket and wake event, the
// HEX file, its probe's socket): a thousand of them need more than the usual soft limit of
// 1,024 open files. This raises the soft limit as far as they need, up to the hard limit;
// when the hard limit is too low it says so, and how many could go at once, before anything
// is sent.
std::optional<std::string> RaiseOpenFileLimitFor(std::size_t modulesAtOnce);

} // namespace ostrel
