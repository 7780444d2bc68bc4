#include "Platform/FileURL.hpp"
#include "Platform/Process.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/ToolPaths.hpp"
#include "Platform/UserDefaults.hpp"

#include "UpdaterEnvironment.hpp"
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

// HOME is a private folder for the test's lifetime.
using PrivateHome = testsupport::UpdaterEnvironment;

// A corrupt preferences file is reported and never replaced, through the class or the
// tool, and a domain that could leave the preferences folder is refused by both.
TEST_F(PrivateHome, CorruptFilesAndClimbingDomainsAreRefused) {
    UserDefaults defaults("com.example.app");
    testsupport::writeFile(defaults.filePath(), "garbage that is not a plist");
    EXPECT_THROW(defaults.string("AutoUpdateManifestURL"), PropertyListError);
    EXPECT_THROW(defaults.set("Key", PropertyValue("v")), PropertyListError);
    auto result = runCapturingOutput(paths::defaults(), {"write", "com.example.app", "Key", "v"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("not a valid property list"), std::string::npos) << result.bytes;
    EXPECT_EQ(testsupport::readFile(defaults.filePath()), "garbage that is not a plist");

    for (const char* domain : {"../evil", ".hidden", ""}) EXPECT_THROW(UserDefaults{domain}, std::invalid_argument) << domain;
    EXPECT_NE(runCapturingOutput(paths::defaults(), {"write", "a/b", "Key", "v"}).status, 0);
}
