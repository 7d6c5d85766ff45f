#pragma once

#include "common/UniqueFd.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace ostrel {

// A file read line by line the way a C text stream in text mode reads it: a CR LF line end
// reads as LF, a line longer than the read limit comes in pieces, and the end of the file
// is noticed only by a read that meets it. Files from any system thus count and decode alike.
class TextFile {
public:
    TextFile();

    bool Open(const std::string& path); // false for a missing, unreadable or non-regular file
    void Close();
    bool IsOpen() const { return fd.IsValid(); }

    // True once a read has met the end of the file, until the next Rewind.
    bool AtEnd() const { return atEnd; }
    bool Rewind();

    // Reads at most dest.size() - 1 characters, up to and including the next line end, and
    // terminates them with a NUL. Returns the number of characters read; 0 means none could be.
    std::size_t ReadLine(std::span<char> dest);

private:
    bool Refill();

    // Reads of a cached file cost little, so the buffer stays small: many links may each hold
    // one.
    static constexpr std::size_t bufferSize = 8 * 1024;

    UniqueFd fd;
    std::unique_ptr<char[]> buffer;
    std::size_t pos = 0;
    std::size_t end = 0;
    bool atEnd = false;
};

} // namespace ostrel
