#pragma once

#include <unistd.h>
#include <utility>

namespace ostrel::sim {

// Owns one open file descriptor and closes it.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int owned) : fd(owned) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            Close();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Close(); }

    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }

private:
    void Close() {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    int fd = -1;
};

} // namespace ostrel::sim
