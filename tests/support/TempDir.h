#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel::test {

// A fresh directory below the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::filesystem::path& Path() const { return path; }
    std::filesystem::path File(std::string_view name) const { return path / name; }
    // Writes the bytes as they are (no line end translation) and returns the file's path.
    std::string Write(std::string_view name, std::string_view contents) const;

private:
    std::filesystem::path path;
};

// The whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

} // namespace ostrel::test
