#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <gtest/gtest.h>

namespace ostrel::test {

// Whether a module's flash, as a simulator dumped it, is the image the HEX file builds; on a
// difference it says where the first one is.
::testing::AssertionResult FlashHoldsTheImage(std::span<const std::uint8_t> flash,
                                              const std::string& hexPath);

} // namespace ostrel::test
