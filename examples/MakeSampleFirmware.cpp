// Writes the sample firmware that the demo programs into the simulated module: a small
// application at 0x1D000000 in 16-byte records, a start address, and configuration words in the
// boot region, which the update leaves alone. Run: make-sample-firmware > sample-firmware.hex
#include "tests/support/HexFileWriter.h"

#include <cstdint>
#include <iostream>
#include <string_view>
#include <vector>

int main() {
    constexpr std::size_t applicationBytes = 24 * 1024;
    constexpr std::string_view banner = "Ostrel sample firmware 1.0 for Vexa modules";

    ostrel::test::HexFileWriter hex("\r\n"); // as firmware tools on other systems write them
    hex.ExtendedLinear(0x1D00);
    std::vector<std::uint8_t> application(banner.begin(), banner.end());
    std::uint32_t state = 0x2026;
    while (application.size() < applicationBytes) {
        state = state * 1103515245u + 12345u;
        application.push_back(static_cast<std::uint8_t>(state >> 16));
    }
    for (std::size_t offset = 0; offset < application.size(); offset += 16) {
        hex.Data(static_cast<std::uint16_t>(offset),
                 std::span(application)
                     .subspan(offset, std::min<std::size_t>(16, application.size() - offset)));
    }
    const std::uint8_t start[] = {0x9D, 0x00, 0x00, 0x00};
    hex.Record(5, 0, start);
    hex.ExtendedLinear(0x1FC0);
    const std::uint8_t configuration[] = {0xD9, 0x79, 0xF8, 0xFF, 0xFB, 0xB6, 0x5A, 0xFF};
    hex.Data(0x2FF0, configuration);
    hex.EndOfFile();
    std::cout << hex.Text();
    return std::cout.good() ? 0 : 1;
}
