#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// The text without the blanks, tabs and carriage returns around it.
std::string Trimmed(std::string_view text);

} // namespace ostrel
