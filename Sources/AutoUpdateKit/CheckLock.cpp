#include "CheckLock.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace autoupdatekit {

CheckLock::CheckLock(const platform::FileURL& stagingDirectory) {
    const std::string& staging = stagingDirectory.path();
    std::string parent = staging.substr(0, staging.find_last_of('/', staging.find_last_not_of('/')));
    if (parent.empty()) parent = "/";
    platform::createDirectories(parent, 0700);
    std::string path = parent + "/.AutoUpdateCheck.lock";
    file_ = platform::FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file_.valid()) platform::throwSystemError("open " + path);
    if (::flock(file_.get(), LOCK_EX | LOCK_NB) == 0) held_ = true;
    else if (errno != EWOULDBLOCK) platform::throwSystemError("lock " + path);
}

}  // namespace autoupdatekit
