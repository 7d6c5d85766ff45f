#pragma once

#include "common/UniqueFd.h"

#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ostrel::test {

// Makes a folder refuse every new or renamed entry while it lives, even for root: by its
// permissions for a user, by the file system's immutable flag for root. Refused() tells when
// neither could be had (a file system without the flag), so that a test can skip.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::filesystem::path& folder)
        : path(folder), fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (::geteuid() != 0) {
            std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::remove);
            made = true;
            return;
        }
        int flags = 0;
        if (fd.IsValid() && ::ioctl(fd.Get(), FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            made = ::ioctl(fd.Get(), FS_IOC_SETFLAGS, &flags) == 0;
        }
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    ~ReadOnlyFolder() {
        if (!made) {
            return;
        }
        if (::geteuid() != 0) {
            std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
            return;
        }
        int flags = 0;
        if (::ioctl(fd.Get(), FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd.Get(), FS_IOC_SETFLAGS, &flags);
        }
    }

    bool Refused() const { return !made; }

private:
    std::filesystem::path path;
    UniqueFd fd;
    bool made = false;
};

} // namespace ostrel::test
