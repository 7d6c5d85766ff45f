#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// A CSV field: quoted when it holds a comma, a quote or a line end, quotes doubled.
std::string CsvField(std::string_view text);

} // namespace ostrel
