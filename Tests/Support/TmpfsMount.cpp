#include "TmpfsMount.hpp"

#include "Platform/FileSystem.hpp"

#include <sys/mount.h>

namespace testsupport {

TmpfsMount::TmpfsMount(const std::string& path, const std::string& options) : path_(path) {
    platform::createDirectories(path);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace testsupport
