#include "Platform/LogFolder.hpp"

#include "Platform/FileURL.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

FileDescriptor openLogFolder(const std::string& path) {
    FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid() || errno != ENOENT) return folder;
    FileURL url(path);
    FileDescriptor parent(::open(url.deletingLastPathComponent().path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!parent.valid() || ::fstat(parent.get(), &status) != 0 || status.st_uid != 0 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return {};
    }
    std::string name = url.lastPathComponent();
    bool made = ::mkdirat(parent.get(), name.c_str(), 0755) == 0;
    folder = FileDescriptor(::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // The mode asked for, whatever the umask.
    if (made && folder.valid()) ::fchmod(folder.get(), 0755);
    return folder;
}

}  // namespace platform
