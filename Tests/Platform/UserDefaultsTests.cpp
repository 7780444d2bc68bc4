#include "Platform/PropertyList.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"
#include "Platform/UserDefaults.hpp"

#include "Files.hpp"
#include "UpdaterEnvironment.hpp"

#include <gtest/gtest.h>

using namespace platform;

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
