#pragma once

#include "sim/FlashMemory.h"

#include <string>

namespace ostrel::sim {

// Writes the whole flash to path (offset 0 = its first address), aside first and then renamed,
// so that a reader never sees half a flash. Tells standard error and returns false when that
// fails.
bool WriteFlashDump(const FlashMemory& flash, const std::string& path);

} // namespace ostrel::sim
