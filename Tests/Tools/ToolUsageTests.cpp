#include "SeparatedOutput.hpp"
#include "TemporaryDirectory.hpp"

#include "Platform/ToolPaths.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

using testsupport::runSeparatingOutput;

namespace {

struct Invocation {
    std::string tool;
    std::vector<std::string> arguments;
};

// The platform tools sit in the tool folder, the project's programs in bin/.
std::string pathOf(const std::string& tool) {
    std::string platformTool = platform::paths::toolDirectory() + "/" + tool;
    return ::access(platformTool.c_str(), X_OK) == 0 ? platformTool : std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/" + tool;
}

std::string describe(const Invocation& invocation) {
    std::string text = invocation.tool;
    for (const auto& argument : invocation.arguments) text += " " + argument;
    return text;
}

}  // namespace

TEST(ToolUsage, EveryToolAnswersHelpOnStandardOutputWithStatus0) {
    const Invocation invocations[] = {
        {"codesign", {"--help"}},    {"ditto", {"--help"}},
        {"open", {"--help"}},        {"defaults", {"--help"}},
        {"launchctl", {"--help"}},   {"autoupdatekit-launchd", {"--help"}},
        {"autoupdate-manifest", {"--help"}}, {"autoupdate-manifest", {"sign", "--help"}},
        {"autoupdatectl", {"--help"}}, {"autoupdatectl", {"check", "--help"}},
    };
    for (const auto& invocation : invocations) {
        auto result = runSeparatingOutput(pathOf(invocation.tool), invocation.arguments);
        EXPECT_EQ(result.status, 0) << describe(invocation) << ": " << result.standardError;
        EXPECT_EQ(result.standardOutput.rfind("usage: ", 0), 0u) << describe(invocation) << ": " << result.standardOutput;
        EXPECT_EQ(result.standardError, "") << describe(invocation);
    }
}

// Bad usage gets the reason and the usage on standard error, nothing on standard
// output, and exit status 2 from every tool, whatever the mistake.
TEST(ToolUsage, BadUsageShowsTheUsageOnStandardErrorWithStatus2) {
    const Invocation invocations[] = {
        {"codesign", {}},
        {"codesign", {"--verify"}},
        {"codesign", {"--verify", "--sign", "-", "/tmp"}},
        {"codesign", {"--sign", "key", "/tmp"}},
        {"codesign", {"--verify", "--bogus", "/tmp"}},
        {"codesign", {"--sign", "-", "--trusted-key", "key.pub", "/tmp"}},
        {"codesign", {"--verify", "/tmp", "--trusted-key"}},
        {"ditto", {"/tmp"}},
        {"ditto", {"-q", "/tmp", "/tmp/x"}},
        {"ditto", {"-x", "/tmp/a.zip", "/tmp"}},
        {"open", {}},
        {"open", {"/tmp/A.app", "/tmp/B.app"}},
        {"defaults", {}},
        {"defaults", {"frob", "com.example.sample"}},
        {"launchctl", {}},
        {"launchctl", {"print", "user/label"}},
        {"autoupdatekit-launchd", {"extra"}},
        {"autoupdate-manifest", {}},
        {"autoupdate-manifest", {"frob"}},
        {"autoupdate-manifest", {"sign", "payload.json"}},
        {"autoupdatectl", {}},
        {"autoupdatectl", {"check"}},
        {"autoupdatectl", {"check", "--bogus", "/tmp"}},
    };
    for (const auto& invocation : invocations) {
        auto result = runSeparatingOutput(pathOf(invocation.tool), invocation.arguments);
        EXPECT_EQ(result.status, 2) << describe(invocation) << ": " << result.standardError;
        EXPECT_NE(result.standardError.find("usage: "), std::string::npos) << describe(invocation) << ": " << result.standardError;
        EXPECT_EQ(result.standardOutput, "") << describe(invocation);
    }
}

TEST(ToolUsage, AutoupdatectlCheckSaysAFolderIsNotAnAppBundle) {
    testsupport::TemporaryDirectory folder;
    auto result = runSeparatingOutput(pathOf("autoupdatectl"), {"check", folder.path()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.standardOutput, folder.path() + " is not an app bundle (no Contents/Info.plist with a CFBundleIdentifier)\n");
}
