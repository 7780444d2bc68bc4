#include "HelperToolFolder.hpp"

#include "HelperError.hpp"

#include "Platform/FileDescriptor.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace privilegedhelper::HelperToolFolder {
namespace {

// Why root could not trust what the descriptor names, or nothing.
std::string distrust(int fd, const std::string& name, mode_t type) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return name + ": " + std::strerror(errno);
    if ((status.st_mode & S_IFMT) != type) return name + " is not a " + (type == S_IFDIR ? "folder" : "regular file");
    if (status.st_uid != 0) return name + " is not owned by root";
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) return name + " is writable by group or others";
    return {};
}

}  // namespace

void check(const std::string& folder) {
    auto refuseFor = [&folder](const std::string& reason) {
        if (!reason.empty()) throw HelperError::untrustedToolFolder(folder, reason);
    };
    if (folder.empty() || folder.front() != '/') refuseFor("not an absolute path");
    platform::FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.valid()) refuseFor(std::strerror(errno));
    refuseFor(distrust(directory.get(), "the folder", S_IFDIR));
    for (const std::string tool : {codesign, open}) {
        platform::FileDescriptor file(::openat(directory.get(), tool.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!file.valid()) refuseFor(tool + ": " + std::strerror(errno));
        refuseFor(distrust(file.get(), tool, S_IFREG));
    }
}

}  // namespace privilegedhelper::HelperToolFolder
