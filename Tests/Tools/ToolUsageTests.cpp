#include "BundleBuilder.hpp"
#include "Files.hpp"

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
    if (tool == "PrivilegedUpdateHelper") return AUTOUPDATEKIT_GENERIC_HELPER_PATH;
    std::string platformTool = platform::paths::toolDirectory() + "/" + tool;
    return ::access(platformTool.c_str(), X_OK) == 0 ? platformTool : std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/" + tool;
}

std::string describe(const Invocation& invocation) {
    std::string text = invocation.tool;
    for (const auto& argument : invocation.arguments) text += " " + argument;
    return text;
}

}  // namespace

// Every program, the generic helper included (which must answer before it reads the
// policy it lacks), prints its usage for -h and --help and "<program> <version>" for
// --version, on standard output with status 0; so do the commands for -h and --help.
TEST(ToolUsage, EveryToolAnswersHelpAndVersionOnStandardOutputWithStatus0) {
    const std::string tools[] = {"codesign",  "ditto",  "open",  "defaults",  "launchctl", "autoupdatekit-launchd",
                                 "autoupdatekit-bless", "autoupdate-manifest", "autoupdatectl", "autoupdate-helper",
                                 "PrivilegedUpdateHelper"};
    std::vector<std::pair<Invocation, std::string>> invocations = {
        {{"autoupdate-manifest", {"sign", "-h"}}, "usage: "},
        {{"autoupdatectl", {"check", "--help"}}, "usage: "},
        {{"autoupdatectl", {"help"}}, "usage: "},
        {{"autoupdate-helper", {"make", "-h"}}, "usage: "},
    };
    for (const auto& tool : tools) {
        invocations.push_back({{tool, {"-h"}}, "usage: "});
        invocations.push_back({{tool, {"--help"}}, "usage: "});
        invocations.push_back({{tool, {"--version"}}, tool + " " + AUTOUPDATEKIT_PROJECT_VERSION + "\n"});
    }
    for (const auto& [invocation, expected] : invocations) {
        auto result = runSeparatingOutput(pathOf(invocation.tool), invocation.arguments);
        EXPECT_EQ(result.status, 0) << describe(invocation) << ": " << result.standardError;
        std::string shown = expected == "usage: " ? result.standardOutput.substr(0, expected.size()) : result.standardOutput;
        EXPECT_EQ(shown, expected) << describe(invocation) << ": " << result.standardOutput;
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
        {"autoupdatekit-bless", {"only-a-label"}},
        {"launchctl", {"bootout", "label"}},
        {"autoupdate-helper", {"install"}},
        {"autoupdate-helper", {"uninstall", "a", "b"}},
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

// A failure is told on standard error alone, with status 1, so standard output holds
// results only: autoupdatectl's in every command and with --json, and open's for a
// bundle whose executable leaves it or is missing.
TEST(ToolUsage, FailuresGoToStandardErrorAloneWithStatus1) {
    testsupport::TemporaryDirectory folder;
    // A bundle whose Info.plist names only its executable.
    auto naming = [&](const std::string& name, const std::string& executable) {
        std::string app = testsupport::buildBundle(folder.path(), name);
        testsupport::writeFile(app + "/Contents/Info.plist",
                               platform::PropertyList::xml(platform::PropertyDictionary{{"CFBundleExecutable", executable}}));
        return app;
    };
    std::string climbing = naming("Climbing", "../../x");
    std::string absent = naming("Absent", "Absent");
    const std::string notABundle = " is not an app bundle (no Contents/Info.plist with a CFBundleIdentifier)\n";
    const std::pair<Invocation, std::string> invocations[] = {
        {{"autoupdatectl", {"check", folder.path()}}, "autoupdatectl check: " + folder.path() + notABundle},
        {{"autoupdatectl", {"check", "--json", folder.path()}}, "autoupdatectl check: " + folder.path() + notABundle},
        {{"autoupdatectl", {"install", folder.path()}}, "autoupdatectl install: " + folder.path() + notABundle},
        {{"autoupdatectl", {"status", folder.path()}}, "autoupdatectl status: " + folder.path() + notABundle},
        {{"open", {climbing}}, "open: " + climbing + ": the bundle names no plain CFBundleExecutable\n"},
        {{"open", {absent}}, "open: could not launch " + absent + "/Contents/MacOS/Absent: No such file or directory\n"},
    };
    for (const auto& [invocation, error] : invocations) {
        auto result = runSeparatingOutput(pathOf(invocation.tool), invocation.arguments);
        EXPECT_EQ(result.status, 1) << describe(invocation);
        EXPECT_EQ(result.standardOutput, "") << describe(invocation);
        EXPECT_EQ(result.standardError, error) << describe(invocation);
    }
}
