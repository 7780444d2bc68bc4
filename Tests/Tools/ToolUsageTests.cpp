#include "BundleBuilder.hpp"
#include "Files.hpp"

#include "Platform/ToolPaths.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// The platform tools sit in the tool folder, the project's programs in bin/.
std::string pathOf(const std::string& tool) {
    if (tool == "PrivilegedUpdateHelper") return AUTOUPDATEKIT_GENERIC_HELPER_PATH;
    std::string platformTool = platform::paths::toolDirectory() + "/" + tool;
    return ::access(platformTool.c_str(), X_OK) == 0 ? platformTool : std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/" + tool;
}

// An expected stream of this text only has to hold the usage somewhere.
const std::string usage = "usage: ";

struct Invocation {
    std::string tool;
    std::vector<std::string> arguments;
    int status;
    std::string standardOutput;
    std::string standardError;
};

}  // namespace

// Help and --version answer on standard output with status 0, from every program, the
// generic helper included (which must answer before it reads the policy it lacks). Bad
// usage gets the reason and the usage on standard error with status 2, whatever the
// mistake; a failure is told on standard error alone with status 1 (autoupdatectl's in
// every command and with --json, open's for a bundle whose executable leaves it or is
// missing). Standard output holds results only.
TEST(ToolUsage, EveryToolKeepsResultsOnStandardOutputAndTellsHelpUsageAndFailuresApart) {
    TemporaryDirectory folder;
    // A bundle whose Info.plist names only its executable.
    auto naming = [&](const std::string& name, const std::string& executable) {
        std::string app = buildBundle(folder.path(), name);
        writeFile(app + "/Contents/Info.plist", platform::PropertyList::xml(platform::PropertyDictionary{{"CFBundleExecutable", executable}}));
        return app;
    };
    std::string climbing = naming("Climbing", "../../x");
    std::string absent = naming("Absent", "Absent");
    const std::string notABundle = folder.path() + " is not an app bundle (no Contents/Info.plist with a CFBundleIdentifier)\n";
    std::vector<Invocation> runs = {
        {"autoupdate-manifest", {"sign", "-h"}, 0, usage, ""},
        {"autoupdatectl", {"check", "--help"}, 0, usage, ""},
        {"autoupdatectl", {"help"}, 0, usage, ""},
        {"autoupdate-helper", {"make", "-h"}, 0, usage, ""},
        {"codesign", {}, 2, "", usage},
        {"codesign", {"--verify"}, 2, "", usage},
        {"codesign", {"--verify", "--sign", "-", "/tmp"}, 2, "", usage},
        {"codesign", {"--sign", "key", "/tmp"}, 2, "", usage},
        {"codesign", {"--verify", "--bogus", "/tmp"}, 2, "", usage},
        {"codesign", {"--sign", "-", "--trusted-key", "key.pub", "/tmp"}, 2, "", usage},
        {"codesign", {"--verify", "/tmp", "--trusted-key"}, 2, "", usage},
        {"ditto", {"/tmp"}, 2, "", usage},
        {"ditto", {"-q", "/tmp", "/tmp/x"}, 2, "", usage},
        {"ditto", {"-x", "/tmp/a.zip", "/tmp"}, 2, "", usage},
        {"open", {}, 2, "", usage},
        {"open", {"/tmp/A.app", "/tmp/B.app"}, 2, "", usage},
        {"defaults", {}, 2, "", usage},
        {"defaults", {"frob", "com.example.sample"}, 2, "", usage},
        {"launchctl", {}, 2, "", usage},
        {"launchctl", {"print", "user/label"}, 2, "", usage},
        {"launchctl", {"bootout", "label"}, 2, "", usage},
        {"autoupdatekit-launchd", {"extra"}, 2, "", usage},
        {"autoupdatekit-bless", {"only-a-label"}, 2, "", usage},
        {"autoupdate-helper", {"install"}, 2, "", usage},
        {"autoupdate-helper", {"uninstall", "a", "b"}, 2, "", usage},
        {"autoupdate-manifest", {}, 2, "", usage},
        {"autoupdate-manifest", {"frob"}, 2, "", usage},
        {"autoupdate-manifest", {"sign", "payload.json"}, 2, "", usage},
        {"autoupdatectl", {}, 2, "", usage},
        {"autoupdatectl", {"check"}, 2, "", usage},
        {"autoupdatectl", {"check", "--bogus", "/tmp"}, 2, "", usage},
        {"autoupdatectl", {"check", folder.path()}, 1, "", "autoupdatectl check: " + notABundle},
        {"autoupdatectl", {"check", "--json", folder.path()}, 1, "", "autoupdatectl check: " + notABundle},
        {"autoupdatectl", {"install", folder.path()}, 1, "", "autoupdatectl install: " + notABundle},
        {"autoupdatectl", {"status", folder.path()}, 1, "", "autoupdatectl status: " + notABundle},
        {"open", {climbing}, 1, "", "open: " + climbing + ": the bundle names no plain CFBundleExecutable\n"},
        {"open", {absent}, 1, "", "open: could not launch " + absent + "/Contents/MacOS/Absent: No such file or directory\n"},
    };
    for (const std::string tool : {"codesign", "ditto", "open", "defaults", "launchctl", "autoupdatekit-launchd", "autoupdatekit-bless",
                                   "autoupdate-manifest", "autoupdatectl", "autoupdate-helper", "PrivilegedUpdateHelper"}) {
        runs.push_back({tool, {"-h"}, 0, usage, ""});
        runs.push_back({tool, {"--help"}, 0, usage, ""});
        runs.push_back({tool, {"--version"}, 0, tool + " " + AUTOUPDATEKIT_PROJECT_VERSION + "\n", ""});
    }
    auto shows = [](const std::string& stream, const std::string& expected) {
        return expected == usage ? stream.find(usage) != std::string::npos : stream == expected;
    };
    for (const auto& run : runs) {
        std::string invocation = run.tool;
        for (const auto& argument : run.arguments) invocation += " " + argument;
        SCOPED_TRACE(invocation);
        auto result = runSeparatingOutput(pathOf(run.tool), run.arguments);
        EXPECT_EQ(result.status, run.status) << result.standardError;
        EXPECT_TRUE(shows(result.standardOutput, run.standardOutput)) << result.standardOutput;
        EXPECT_TRUE(shows(result.standardError, run.standardError)) << result.standardError;
    }
}
