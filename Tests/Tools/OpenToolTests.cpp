#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "TemporaryDirectory.hpp"

#include <gtest/gtest.h>
#include <thread>

namespace {

platform::CapturedOutput open(const std::string& app) {
    return platform::runCapturingOutput(platform::paths::open, {app});
}

}  // namespace

TEST(OpenTool, LaunchesTheBundleExecutableDetached) {
    testsupport::TemporaryDirectory folder;
    std::string marker = folder / "launched";
    testsupport::SampleBundle sample;
    sample.executableName = "Sample App";
    sample.executableScript = "#!/bin/sh\nsleep 1\necho \"$#\" > '" + marker + ".tmp'\nmv '" + marker + ".tmp' '" + marker + "'\n";
    std::string app = testsupport::buildBundle(folder.path(), "With Space", sample);

    auto start = std::chrono::steady_clock::now();
    auto result = open(app);
    EXPECT_EQ(result.status, 0) << result.bytes;
    // open returns once the app has started, without waiting for it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    for (int attempt = 0; attempt < 100 && !testsupport::exists(marker); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(testsupport::readFile(marker), "0\n");
}

TEST(OpenTool, RefusesBundlesItCannotLaunchSafely) {
    testsupport::TemporaryDirectory folder;
    testsupport::SampleBundle climbing;
    climbing.extraInfo["CFBundleExecutable"] = "../../../bin/true";
    std::string app = testsupport::buildBundle(folder.path(), "Climbing", climbing);
    // buildBundle sets its own executable name; overwrite with the hostile one.
    testsupport::writeFile(app + "/Contents/Info.plist",
                           platform::PropertyList::xml(platform::PropertyDictionary{{"CFBundleExecutable", "../../x"}}));
    auto result = open(app);
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("CFBundleExecutable"), std::string::npos) << result.bytes;

    EXPECT_NE(open(folder / "Missing.app").status, 0);
    testsupport::writeFile(app + "/Contents/Info.plist",
                           platform::PropertyList::xml(platform::PropertyDictionary{{"CFBundleExecutable", "Absent"}}));
    result = open(app);
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("No such file"), std::string::npos) << result.bytes;
}
