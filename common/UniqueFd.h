#pragma once

#include <unistd.h>
#include <utility>

namespace ostrel {

// Owns one POSIX file descriptor and closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int descriptor) : fd(descriptor) {}
    UniqueFd(UniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.fd, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd; }
    // Gives the descriptor up to a new owner.
    int Release() { return std::exchange(fd, -1); }
    bool IsValid() const { return fd >= 0; }
    void Reset(int newFd = -1) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = newFd;
    }

private:
    int fd = -1;
};

} // namespace ostrel
