#include "app/AddressText.h"

#include "common/DecimalText.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace ostrel {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

DottedQuadResult ParseDottedQuad(std::string_view text, DeviceAddress& address) {
    address = 0;
    if (text.size() < 7 || text.size() > 15) {
        return DottedQuadResult::BadLength;
    }
    if (std::count(text.begin(), text.end(), '.') != 3) {
        return DottedQuadResult::BadDotCount;
    }
    std::uint32_t result = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        // A part without a number reads as 0.
        result = result * 256u +
                 static_cast<std::uint32_t>(ScanDecimal(text.substr(0, dot)).value_or(0));
        text.remove_prefix(dot == std::string_view::npos ? text.size() : dot + 1);
    }
    address = result;
    return DottedQuadResult::Parsed;
}

DeviceAddress ParseAddressLoose(std::string_view text) {
    std::uint32_t result = 0;
    std::uint16_t part = 0;
    int dots = 0;
    for (const char c : text) {
        if (c == '.') {
            result = result * 256u + part;
            part = 0;
            if (++dots > 3) {
                return result;
            }
        } else if (IsDigit(c)) {
            part = static_cast<std::uint16_t>(part * 10 + (c - '0'));
        } else if ((IsBlank(c) || c == '-') && dots == 3) {
            break;
        }
    }
    return (result * 256u) | part;
}

} // namespace ostrel
