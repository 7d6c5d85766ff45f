#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// Text that came from the network, made safe to print on a terminal: control characters (C0,
// DEL and C1) and bytes that are no UTF-8 become \xNN, so that a module's name can never move
// the cursor or change the terminal. Everything else stays as it is.
std::string SafeText(std::string_view text);

} // namespace ostrel
