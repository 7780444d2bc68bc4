#pragma once
// Runs a test in a private mount namespace where the system's fixed paths
// (/Applications, /Library, /etc/autoupdatekit, /run/autoupdatekit) are empty tmpfs
// mounts, so tests use the real paths without touching the machine's folders; and the
// mounts a test adds there for the length of a scope.
//
// A missing mount point is created empty on the machine (under a lock shared by all
// test processes) and removed again by the last test that used it.

#include <gtest/gtest.h>
#include <string>

namespace testsupport {

class PrivateSystemPaths : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    int lockFd_ = -1;
};

// A file or folder bind-mounted over a path of the machine, only ever inside a test's
// private mount namespace: a test may cover a real system path (a CA file, a tool,
// polkit's folders) without touching it.
class BindMount {
public:
    // Throws when the process shares the machine's mount namespace or the mount fails.
    BindMount(const std::string& from, std::string over);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;

private:
    std::string over_;
};

// A tmpfs mounted over a folder: a file system of its own, as a tmpfs /tmp is, for moves
// that cross file systems or a disk that fills up.
class TmpfsMount {
public:
    // options as for mount -o ("mode=1777,size=64k"); the folder is made when missing.
    TmpfsMount(const std::string& path, const std::string& options);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

}  // namespace testsupport
