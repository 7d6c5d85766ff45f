#include "sim/FlashDump.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace ostrel::sim {

bool WriteFlashDump(const FlashMemory& flash, const std::string& path) {
    const std::string partial = path + ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        flash.ForEachPage([&file](std::span<const std::uint8_t> page) {
            file.write(reinterpret_cast<const char*>(page.data()),
                       static_cast<std::streamsize>(page.size()));
        });
        if (!file.flush()) {
            std::fprintf(stderr, "vexa-sim: cannot write the dump %s\n", partial.c_str());
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    if (error) {
        std::fprintf(stderr, "vexa-sim: cannot write the dump %s: %s\n", path.c_str(),
                     error.message().c_str());
        return false;
    }
    return true;
}

} // namespace ostrel::sim
