#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

// Every Program frame of one HEX file, built once for the many links that send the same file:
// a link then copies its next frame instead of reading and encoding the file again. The frames
// are those a link's own FrameBuilder builds from the file, byte for byte.
class ProgramFrames {
public:
    // Nothing when the file cannot be opened.
    static std::optional<ProgramFrames> FromFile(const std::string& path);

    std::size_t Count() const { return ends.size(); }
    std::span<const std::uint8_t> Frame(std::size_t k) const;
    // The file's lines read after the k-th build, counted from 0: k == Count() is the build that
    // found no further record. A link's progress, as reading the file itself would show it.
    std::uint32_t LinesAfterBuild(std::size_t k) const { return linesAfter[k]; }
    std::uint32_t LineCount() const { return lineCount; }

private:
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> ends; // where each frame ends in bytes
    std::vector<std::uint32_t> linesAfter;
    std::uint32_t lineCount = 0;
};

} // namespace ostrel
