#include "sim/FlashMemory.h"

#include "image/Crc16.h"

#include <algorithm>

namespace ostrel::sim {

namespace {

constexpr std::size_t pageCount = FlashMemory::SIZE / FlashMemory::PAGE;

} // namespace

void FlashMemory::Erase() {
    pages.clear();
    pages.shrink_to_fit();
}

std::span<const std::uint8_t> FlashMemory::PageAt(std::size_t index) const {
    static const Page erased = [] {
        Page page;
        page.fill(ERASED);
        return page;
    }();
    return index < pages.size() && pages[index] ? std::span<const std::uint8_t>(*pages[index])
                                                : std::span<const std::uint8_t>(erased);
}

std::size_t FlashMemory::Write(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    std::size_t stored = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // Per byte, so a record that wraps or crosses the flash's end keeps its inside part.
        const std::uint32_t physical = (address + static_cast<std::uint32_t>(i)) & PHYSICAL_MASK;
        if (physical < BASE || physical - BASE >= SIZE) {
            continue;
        }
        const std::uint32_t offset = physical - BASE;
        pages.resize(pageCount);
        auto& page = pages[offset / PAGE];
        if (!page) {
            page = std::make_unique<Page>();
            page->fill(ERASED);
        }
        (*page)[offset % PAGE] = bytes[i];
        ++stored;
    }
    return stored;
}

std::uint16_t FlashMemory::Crc(std::uint32_t address, std::uint32_t length) const {
    const std::uint64_t first = address & PHYSICAL_MASK;
    const std::uint64_t begin = std::max<std::uint64_t>(first, BASE) - BASE;
    const std::uint64_t end = std::min<std::uint64_t>(first + length, std::uint64_t{BASE} + SIZE);
    std::uint16_t crc = 0;
    for (std::uint64_t at = begin; at + BASE < end;) {
        const std::uint64_t upTo = std::min<std::uint64_t>(end - BASE, (at / PAGE + 1) * PAGE);
        crc = Crc16(PageAt(at / PAGE).subspan(at % PAGE, upTo - at), crc);
        at = upTo;
    }
    return crc;
}

void FlashMemory::ForEachPage(
    const std::function<void(std::span<const std::uint8_t>)>& take) const {
    for (std::size_t index = 0; index < pageCount; ++index) {
        take(PageAt(index));
    }
}

std::vector<std::uint8_t> FlashMemory::Contents() const {
    std::vector<std::uint8_t> all;
    all.reserve(SIZE);
    ForEachPage([&all](std::span<const std::uint8_t> page) {
        all.insert(all.end(), page.begin(), page.end());
    });
    return all;
}

} // namespace ostrel::sim
