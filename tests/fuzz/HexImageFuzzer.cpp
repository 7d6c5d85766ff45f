// Arbitrary bytes as a HEX file: reading records and building the image must stay inside their
// buffers and report a used range inside the image.
#include "image/Crc16.h"
#include "image/HexImage.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& FuzzFilePath() {
    static const std::string path = "/tmp/ostrel-fuzz-" + std::to_string(::getpid()) + ".hex";
    return path;
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = FuzzFilePath();
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    } else {
        return 0;
    }
    // One image for the whole run: its 5 MiB buffer is allocated once, as in the program.
    static ostrel::HexImage image;
    Check(image.Open(path), "open");
    Check(image.LineCount() <= size, "line count");

    const auto result = image.Build();
    if (result.length == 0) {
        // Nothing stored, or only data records without data bytes: nothing to verify.
        Check(result.crc == 0 || result.crc == ostrel::Crc16({}), "empty range");
    }
    if (result.start != 0 || result.length != 0) {
        Check(result.start >= ostrel::HexImage::imageBase, "range start");
        Check(std::uint64_t{result.start} + result.length <=
                  std::uint64_t{ostrel::HexImage::imageBase} + ostrel::HexImage::imageSize,
              "range end");
        Check(result.start % 4 == 0 && result.length % 4 == 0, "alignment");
    }

    Check(image.Rewind(), "rewind");
    std::array<std::uint8_t, ostrel::HexImage::MaxDecodedBytes(ostrel::HexImage::frameReadLimit)>
        record{};
    for (std::uint32_t line = 0; line <= image.LineCount(); ++line) {
        image.ReadRecord(record, ostrel::HexImage::frameReadLimit);
    }
    Check(image.LinesRead() <= image.LineCount(), "lines read");
    std::remove(path.c_str());
    return 0;
}
