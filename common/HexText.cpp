#include "common/HexText.h"

#include <cstdio>

namespace ostrel {

std::string HexDigits(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

std::string HexText(std::uint32_t value, int digits) {
    return "0x" + HexDigits(value, digits);
}

} // namespace ostrel
