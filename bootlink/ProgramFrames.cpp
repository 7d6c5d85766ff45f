#include "bootlink/ProgramFrames.h"

#include "bootlink/FrameBuilder.h"

namespace ostrel {

std::optional<ProgramFrames> ProgramFrames::FromFile(const std::string& path) {
    HexImage image;
    if (!image.Open(path)) {
        return std::nullopt;
    }
    ProgramFrames program;
    program.lineCount = image.LineCount();
    FrameBuilder builder;
    bool restart = true;
    while (builder.Build(BootCommand::Program, image, restart)) {
        restart = false;
        const auto frame = builder.Frame();
        program.bytes.insert(program.bytes.end(), frame.begin(), frame.end());
        program.ends.push_back(program.bytes.size());
        program.linesAfter.push_back(image.LinesRead());
    }
    program.linesAfter.push_back(image.LinesRead());
    return program;
}

std::span<const std::uint8_t> ProgramFrames::Frame(std::size_t k) const {
    const std::size_t begin = k == 0 ? 0 : ends[k - 1];
    return std::span(bytes).subspan(begin, ends[k] - begin);
}

} // namespace ostrel
