#include "image/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

TextFile::TextFile() : buffer(std::make_unique_for_overwrite<char[]>(bufferSize)) {}

bool TextFile::Open(const std::string& path) {
    Close();
    UniqueFd opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!opened.IsValid() || ::fstat(opened.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    fd = std::move(opened);
    return true;
}

void TextFile::Close() {
    fd.Reset();
    pos = end = 0;
    atEnd = false;
}

bool TextFile::Rewind() {
    if (!IsOpen() || ::lseek(fd.Get(), 0, SEEK_SET) != 0) {
        return false;
    }
    pos = end = 0;
    atEnd = false;
    return true;
}

bool TextFile::Refill() {
    if (!IsOpen()) {
        return false;
    }
    ssize_t got = 0;
    do {
        got = ::read(fd.Get(), buffer.get(), bufferSize);
    } while (got < 0 && errno == EINTR);
    pos = 0;
    end = got > 0 ? static_cast<std::size_t>(got) : 0;
    return end > 0;
}

std::size_t TextFile::ReadLine(std::span<char> dest) {
    if (dest.empty()) {
        return 0;
    }
    const std::size_t room = dest.size() - 1;
    std::size_t count = 0;
    while (count < room) {
        if (pos == end && !Refill()) {
            atEnd = true;
            break;
        }
        const char* run = buffer.get() + pos;
        const std::size_t span = std::min(end - pos, room - count);
        const char* stop =
            std::find_if(run, run + span, [](char c) { return c == '\n' || c == '\r'; });
        const auto plain = static_cast<std::size_t>(stop - run);
        std::memcpy(dest.data() + count, run, plain);
        count += plain;
        pos += plain;
        if (plain == span) {
            continue;
        }
        char c = buffer[pos++];
        if (c == '\r' && (pos < end || Refill()) && buffer[pos] == '\n') {
            ++pos;
            c = '\n';
        }
        dest[count++] = c;
        if (c == '\n') {
            break;
        }
    }
    dest[count] = '\0';
    return count;
}

} // namespace ostrel
