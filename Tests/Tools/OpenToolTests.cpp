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
