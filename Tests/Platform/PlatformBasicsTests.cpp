#include "Platform/Identifiers.hpp"
#include "Platform/Process.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/SystemVersion.hpp"
#include "Platform/UserDirectories.hpp"

#include "Files.hpp"
#include "TemporaryDirectory.hpp"

#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>
#include <sys/wait.h>
#include <thread>

using namespace platform;

TEST(Identifiers, TimestampsAreUTCWithWholeSeconds) {
    auto time = std::chrono::system_clock::from_time_t(1765066804) + std::chrono::milliseconds(999);
    EXPECT_EQ(iso8601UTC(std::chrono::floor<std::chrono::seconds>(time)), "2025-12-07T00:20:04Z");
    EXPECT_EQ(iso8601UTC(std::chrono::sys_seconds{}), "1970-01-01T00:00:00Z");
    // Far years stay exact: instants are whole seconds, not nanoseconds.
    for (const std::string text : {"9999-12-31T23:59:59Z", "0001-01-01T00:00:00Z", "2400-02-29T12:00:00Z"}) {
        EXPECT_EQ(iso8601UTC(*parseISO8601(text)), text);
    }
    EXPECT_EQ(iso8601UTC(*parseISO8601("8426-01-01T00:00:00+01:00")), "8425-12-31T23:00:00Z");
    EXPECT_FALSE(parseISO8601("2100-02-29T00:00:00Z"));
}

TEST(Process, DetachedLaunchRunsInItsOwnSessionAndLeavesNoZombie) {
    testsupport::TemporaryDirectory folder;
    std::string marker = folder / "marker";
    launchDetached("/bin/sh", {"-c", "cut -d' ' -f6 /proc/$$/stat > \"$0\".tmp; mv \"$0\".tmp \"$0\"", marker});
    for (int attempt = 0; attempt < 100 && !testsupport::exists(marker); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(testsupport::exists(marker));
    EXPECT_NE(std::stol(testsupport::readFile(marker)), static_cast<long>(::getsid(0)));
    // The intermediate child was reaped and the tool was never ours.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_THROW(launchDetached("/nonexistent/app", {}), LaunchError);
    EXPECT_THROW(launchInheriting("/nonexistent/app", {}), LaunchError);
}
