#include "Platform/FileURL.hpp"
#include "Platform/Process.hpp"
#include "Platform/SystemError.hpp"

#include "Files.hpp"
#include "WaitUntil.hpp"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace platform;

TEST(FileURL, StandardizationRemovesDotsAndTrailingSlashesWithoutTouchingTheDisk) {
    const std::pair<std::string, std::string> cases[] = {
        {"/Applications/Foo.app/", "/Applications/Foo.app"},
        {"/Applications/Bar/../Foo.app", "/Applications/Foo.app"},
        {"/Applications/../etc/passwd", "/etc/passwd"},
        {"/../..", "/"},
        {"//Applications//Foo.app//", "/Applications/Foo.app"},
        {"/a/b/c/../../d/./e/..", "/a/d"},
    };
    for (const auto& [input, standardized] : cases) EXPECT_EQ(FileURL(input).standardized().path(), standardized) << input;
}

TEST(Process, DetachedLaunchRunsInItsOwnSessionAndLeavesNoZombie) {
    testsupport::TemporaryDirectory folder;
    std::string marker = folder / "marker";
    launchDetached("/bin/sh", {"-c", "cut -d' ' -f6 /proc/$$/stat > \"$0\".tmp; mv \"$0\".tmp \"$0\"", marker});
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::exists(marker); }, std::chrono::seconds(5)));
    EXPECT_NE(std::stol(testsupport::readFile(marker)), static_cast<long>(::getsid(0)));
    // The intermediate child was reaped and the tool was never ours.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_THROW(launchDetached("/nonexistent/app", {}), LaunchError);
    EXPECT_THROW(launchInheriting("/nonexistent/app", {}), LaunchError);
}
