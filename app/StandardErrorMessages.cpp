#include "app/StandardErrorMessages.h"

#include <algorithm>
#include <cstdio>

namespace ostrel {

void StandardErrorMessages::Show(const Message& message) {
    std::string line = "ostrel: " + message.text;
    std::ranges::replace(line, '\n', ' ');
    line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace ostrel
