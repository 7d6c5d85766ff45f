#include "tests/support/FlashCheck.h"

#include "image/HexImage.h"

#include <algorithm>

namespace ostrel::test {

::testing::AssertionResult FlashHoldsTheImage(std::span<const std::uint8_t> flash,
                                              const std::string& hexPath) {
    HexImage image;
    if (!image.Open(hexPath)) {
        return ::testing::AssertionFailure() << "cannot read " << hexPath;
    }
    image.Build();
    if (flash.size() != HexImage::imageSize) {
        return ::testing::AssertionFailure()
               << "the flash holds " << flash.size() << " bytes, not " << HexImage::imageSize;
    }
    const auto [differs, expected] = std::ranges::mismatch(flash, image.Image());
    if (differs != flash.end()) {
        return ::testing::AssertionFailure()
               << "the flash differs from the image first at offset 0x" << std::hex
               << (differs - flash.begin());
    }
    return ::testing::AssertionSuccess();
}

} // namespace ostrel::test
