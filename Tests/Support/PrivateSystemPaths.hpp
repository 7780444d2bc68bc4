#pragma once
// Runs a test in a private mount namespace where the system's fixed paths
// (/Applications, /Library, /etc/autoupdatekit, /run/autoupdatekit) are empty tmpfs
// mounts, so tests use the real paths without touching the machine's folders.
//
// A missing mount point is created empty on the machine (under a lock shared by all
// test processes) and removed again by the last test that used it.

#include <gtest/gtest.h>

namespace testsupport {

class PrivateSystemPaths : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    int lockFd_ = -1;
};

}  // namespace testsupport
