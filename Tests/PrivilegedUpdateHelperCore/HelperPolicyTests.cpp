#include "HelperPolicy.hpp"
#include "PrivilegedInstaller.hpp"

#include "Files.hpp"
#include "TemporaryDirectory.hpp"

#include "Platform/Process.hpp"

#include <gtest/gtest.h>
#include <thread>

using namespace privilegedhelper;
using platform::PropertyDictionary;

namespace {

PropertyDictionary completeInfo() {
    return {{"AutoUpdateAllowedBundleIdentifier", "com.example.sample"},
            {"AutoUpdateAllowedTeamIdentifier", "TEAMA1"},
            {"AutoUpdateAllowedDestinationPath", "  /Applications/Sample.app\n"},
            {"AutoUpdateMachServiceName", "com.example.sample.PrivilegedUpdater"},
            {"AutoUpdateLogFilePath", "/Library/Logs/Sample.log"},
            {"AutoUpdateLaunchAgentLabel", "com.example.sample.autostart"},
            {"CFBundleIdentifier", "com.example.helper"}};
}

}  // namespace

TEST(HelperPolicy, GenericHelperWithoutAPolicyExitsWithOneLine) {
    auto result = platform::runCapturingOutput(AUTOUPDATEKIT_GENERIC_HELPER_PATH, {});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.bytes, "PrivilegedUpdateHelper failed: Missing helper policy value AutoUpdateAllowedBundleIdentifier.\n");
}

// Line breaks in logged client text are in LocalAttackerTests.
TEST(HelperLog, LinesFromManyThreadsStayWhole) {
    testsupport::TemporaryDirectory folder;
    auto info = completeInfo();
    info["AutoUpdateLogFilePath"] = folder / "helper.log";
    PrivilegedInstaller installer(HelperPolicy::fromInfoDictionary(info));
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 8; ++thread) {
        writers.emplace_back([&installer, thread] {
            for (int line = 0; line < 200; ++line) installer.log("thread " + std::to_string(thread) + " " + std::string(300, 'x'));
        });
    }
    for (auto& writer : writers) writer.join();

    std::string log = testsupport::readFile(folder / "helper.log");
    std::size_t lines = 0;
    for (std::size_t start = 0; start < log.size(); start = log.find('\n', start) + 1, ++lines) {
        EXPECT_EQ(log.find('\n', start) - start, 21 + std::string("thread 0 ").size() + 300) << log.substr(start, 80);
    }
    EXPECT_EQ(lines, 8u * 200);

    // A missing log folder loses the line and nothing fails.
    info["AutoUpdateLogFilePath"] = folder / "missing/helper.log";
    PrivilegedInstaller(HelperPolicy::fromInfoDictionary(info)).log("lost");
    EXPECT_FALSE(testsupport::exists(folder / "missing"));
}
