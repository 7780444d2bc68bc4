#include "PrivateSystemPaths.hpp"

#include "Files.hpp"

#include "Platform/FileSystem.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {
namespace {

const char* const fixedPaths[] = {"/Applications", "/Library", "/etc/autoupdatekit", "/run/autoupdatekit"};
constexpr const char* lockPath = "/run/lock/autoupdatekit-test-namespace.lock";
// Mount points the tests created on the machine, one per line.
constexpr const char* createdListPath = "/run/lock/autoupdatekit-test-created-mountpoints";

void recordCreated(const std::string& path) {
    platform::writeFileAtomically(createdListPath, readFileIfAny(createdListPath) + path + "\n", 0600);
}

void removeCreatedMountPoints() {
    std::string listed = readFileIfAny(createdListPath);
    std::size_t start = 0;
    while (start < listed.size()) {
        std::size_t end = listed.find('\n', start);
        ::rmdir(listed.substr(start, end - start).c_str());
        start = end == std::string::npos ? listed.size() : end + 1;
    }
    ::unlink(createdListPath);
}

std::string mountNamespace(const char* process) {
    char target[256] = {};
    ssize_t length = ::readlink((std::string("/proc/") + process + "/ns/mnt").c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "";
}

}  // namespace

void PrivateSystemPaths::SetUp() {
    ASSERT_EQ(::geteuid(), 0u) << "these tests need root to make a private mount namespace";
    ::mkdir("/run/lock", 0755);
    lockFd_ = ::open(lockPath, O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(lockFd_, 0) << lockPath << ": " << std::strerror(errno);
    ASSERT_EQ(::flock(lockFd_, LOCK_EX), 0);
    for (const char* path : fixedPaths) {
        if (!exists(path)) {
            ASSERT_EQ(::mkdir(path, 0755), 0) << path << ": " << std::strerror(errno);
            recordCreated(path);
        }
    }
    ASSERT_EQ(::flock(lockFd_, LOCK_SH), 0);

    ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << "unshare(CLONE_NEWNS): " << std::strerror(errno);
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
    for (const char* path : fixedPaths) {
        ASSERT_EQ(::mount("tmpfs", path, "tmpfs", 0, "mode=0755"), 0) << path << ": " << std::strerror(errno);
    }
}

void PrivateSystemPaths::TearDown() {
    for (const char* path : fixedPaths) ::umount2(path, MNT_DETACH);
    if (lockFd_ < 0) return;
    ::flock(lockFd_, LOCK_UN);
    // The last user of the mount points removes the ones the tests created.
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) removeCreatedMountPoints();
    ::close(lockFd_);
}

BindMount::BindMount(const std::string& from, std::string over) : over_(std::move(over)) {
    if (mountNamespace("self") == mountNamespace("1")) {
        throw std::runtime_error("binding over " + over_ + " needs a private mount namespace");
    }
    if (::mount(from.c_str(), over_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        throw std::runtime_error("bind " + from + " over " + over_ + ": " + std::strerror(errno));
    }
}

BindMount::~BindMount() { ::umount2(over_.c_str(), MNT_DETACH); }

TmpfsMount::TmpfsMount(const std::string& path, const std::string& options) : path_(path) {
    platform::createDirectories(path);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace testsupport
