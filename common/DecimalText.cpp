#include "common/DecimalText.h"

namespace ostrel {

std::optional<std::int32_t> ScanDecimal(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos == text.size() || text[pos] < '0' || text[pos] > '9') {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10u + static_cast<std::uint32_t>(text[pos] - '0');
    }
    return static_cast<std::int32_t>(negative ? 0u - value : value);
}

} // namespace ostrel
