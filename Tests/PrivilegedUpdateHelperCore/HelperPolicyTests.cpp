#include "HelperError.hpp"
#include "HelperPolicy.hpp"
#include "PrivilegedInstaller.hpp"

#include "Files.hpp"
#include "HelperProcess.hpp"
#include "TemporaryDirectory.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/Process.hpp"

#include <gtest/gtest.h>
#include <thread>

using namespace privilegedhelper;
using platform::PropertyDictionary;
using platform::PropertyValue;

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

std::string missingKeyOf(const PropertyDictionary& info) {
    try {
        HelperPolicy::fromInfoDictionary(info);
        return "";
    } catch (const HelperError& error) {
        return error.description();
    }
}

}  // namespace

TEST(HelperPolicy, ValuesAreTrimmedAndBlankOrNonStringValuesCountAsMissing) {
    HelperPolicy policy = HelperPolicy::fromInfoDictionary(completeInfo());
    EXPECT_EQ(policy.destinationPath, "/Applications/Sample.app");
    EXPECT_EQ(policy.machServiceName, "com.example.sample.PrivilegedUpdater");
    EXPECT_EQ(policy.launchAgentLabel, "com.example.sample.autostart");

    for (const PropertyValue& bad : {PropertyValue("   \n"), PropertyValue(std::int64_t{5}), PropertyValue(platform::PropertyArray{"x"})}) {
        auto info = completeInfo();
        info["AutoUpdateAllowedTeamIdentifier"] = bad;
        EXPECT_EQ(missingKeyOf(info), "Missing helper policy value AutoUpdateAllowedTeamIdentifier.");
    }
    auto allMissing = completeInfo();
    allMissing.erase("AutoUpdateAllowedBundleIdentifier");
    allMissing.erase("AutoUpdateAllowedTeamIdentifier");
    allMissing.erase("AutoUpdateAllowedDestinationPath");
    EXPECT_EQ(missingKeyOf(allMissing), "Missing helper policy value AutoUpdateAllowedBundleIdentifier.");
    EXPECT_EQ(missingKeyOf({}), "Missing helper policy value AutoUpdateAllowedBundleIdentifier.");
}

TEST(HelperPolicy, RealExecutableWithAnIncompletePolicyExitsWithOneLine) {
    auto result = platform::runCapturingOutput(std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/IncompletePolicyHelper", {});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.bytes, "PrivilegedUpdateHelper failed: Missing helper policy value AutoUpdateAllowedBundleIdentifier.\n");
}

TEST(HelperLog, LinesStayWholeAndClientTextCannotForgeOne) {
    testsupport::TemporaryDirectory folder;
    auto info = completeInfo();
    info["AutoUpdateLogFilePath"] = folder / "helper.log";
    PrivilegedInstaller installer(HelperPolicy::fromInfoDictionary(info));
    EXPECT_EQ(installer.queue().label(), "com.example.sample.PrivilegedUpdater.install");
    EXPECT_FALSE(testsupport::exists(folder / "helper.log"));  // nothing is touched at construction

    installer.log("accepted update 2.0\n2026-01-01T00:00:00Z installed update evil\r staged=/x");
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 8; ++thread) {
        writers.emplace_back([&installer, thread] {
            for (int line = 0; line < 200; ++line) installer.log("thread " + std::to_string(thread) + " " + std::string(300, 'x'));
        });
    }
    for (auto& writer : writers) writer.join();

    std::string log = testsupport::readFile(folder / "helper.log");
    std::size_t lines = 0;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        std::string line = log.substr(start, end - start);
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line.substr(19, 2), "Z ") << line;
        if (lines == 0) EXPECT_EQ(line.substr(21), "accepted update 2.0\\n2026-01-01T00:00:00Z installed update evil\\r staged=/x");
        else EXPECT_EQ(line.size(), 21 + std::string("thread 0 ").size() + 300) << line;
        ++lines;
        start = end + 1;
    }
    EXPECT_EQ(lines, 1u + 8 * 200);

    // A missing log folder loses the line and nothing fails.
    info["AutoUpdateLogFilePath"] = folder / "missing/helper.log";
    PrivilegedInstaller(HelperPolicy::fromInfoDictionary(info)).log("lost");
    EXPECT_FALSE(testsupport::exists(folder / "missing"));
}
