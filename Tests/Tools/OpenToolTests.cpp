#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "TemporaryDirectory.hpp"

#include <gtest/gtest.h>

namespace {

platform::CapturedOutput open(const std::string& app) {
    return platform::runCapturingOutput(platform::paths::open(), {app});
}

}  // namespace

TEST(OpenTool, RefusesBundlesItCannotLaunchSafely) {
    testsupport::TemporaryDirectory folder;
    std::string app = testsupport::buildBundle(folder.path(), "Climbing");
    testsupport::writeFile(app + "/Contents/Info.plist",
                           platform::PropertyList::xml(platform::PropertyDictionary{{"CFBundleExecutable", "../../x"}}));
    auto result = open(app);
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("CFBundleExecutable"), std::string::npos) << result.bytes;
    testsupport::writeFile(app + "/Contents/Info.plist",
                           platform::PropertyList::xml(platform::PropertyDictionary{{"CFBundleExecutable", "Absent"}}));
    result = open(app);
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("No such file"), std::string::npos) << result.bytes;
}
