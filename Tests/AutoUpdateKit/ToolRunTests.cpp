#include "ToolRun.hpp"

#include "Files.hpp"

#include "Platform/SystemError.hpp"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using autoupdatekit::runTool;

TEST(ToolRun, OutputAndErrorShareOnePipeInWriteOrderAndBadTextIsEmpty) {
    auto result = runTool("/bin/sh", {"-c", "echo one; echo two >&2; echo three; echo \"caf\xC3\xA9\" >&2; exit 3"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, "one\ntwo\nthree\ncaf\xC3\xA9\n");
    EXPECT_EQ(runTool("/bin/sh", {"-c", "printf 'bad \\377 byte'"}).output, "");
    EXPECT_EQ(runTool("/bin/sh", {"-c", "kill -KILL $$"}).status, 128 + 9);
    // 8 MiB through a 64 KiB pipe, on both streams, never stalls.
    result = runTool("/bin/sh", {"-c", "head -c 4194304 /dev/zero | tr '\\0' a; head -c 4194304 /dev/zero | tr '\\0' b >&2"});
    ASSERT_TRUE(result.succeeded());
    ASSERT_EQ(result.output.size(), 8u * 1024 * 1024);
    EXPECT_EQ(result.output.find('b'), 4u * 1024 * 1024);
}

// A tool that cannot be started is the launch error, not a failed run.
TEST(ToolRun, MissingExecutableIsTheLaunchErrorNotAFailedRun) {
    try {
        runTool("/nonexistent/tool", {"--verify"});
        FAIL() << "expected a launch error";
    } catch (const platform::LaunchError& error) {
        EXPECT_EQ(error.code(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("/nonexistent/tool"), std::string::npos);
    }
    EXPECT_THROW(runTool("/etc/hostname", {}), platform::LaunchError);
}

TEST(ToolRun, DescriptorsOfTheCallerDoNotLeakIntoTheChild) {
    int leaked = ::open("/dev/null", O_RDONLY);  // deliberately inheritable
    ASSERT_GE(leaked, 3);
    std::string probe = "[ -e /proc/self/fd/" + std::to_string(leaked) + " ] && echo leaked || echo closed";
    auto result = runTool("/bin/sh", {"-c", probe});
    ::close(leaked);
    EXPECT_EQ(result.output, "closed\n");
}

TEST(ToolRun, GrandchildHoldingThePipeDoesNotHoldTheCaller) {
    // The tool exits at once but leaves a grandchild with its output; the capture gives
    // up on the end of the pipe after a bounded grace period. The grandchild marks its
    // end (60 s on) before it lets go of the pipe, so a run that waited for the pipe to
    // close finds the mark.
    testsupport::TemporaryDirectory folder;
    std::string ended = folder / "ended";
    std::string holder = folder / "holder";
    auto result = runTool("/bin/sh", {"-c", "echo started; { sleep 60; echo >'" + ended + "'; } & echo $! >'" + holder + "'; exit 0"});
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.output, "started\n");
    EXPECT_FALSE(testsupport::exists(ended)) << "the run waited for the grandchild to let go of the pipe";
    ::kill(std::stoi(testsupport::readFile(holder)), SIGKILL);
}
