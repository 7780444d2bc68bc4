#include "Files.hpp"
#include "PrivateSystemPaths.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/ElfSection.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/PropertyList.hpp"
#include "Platform/ToolPaths.hpp"

#include <functional>
#include <optional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::PropertyArray;
using platform::PropertyDictionary;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string builtTool = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdate-helper";

platform::CapturedOutput tool(std::vector<std::string> arguments, const std::string& executable = builtTool) {
    return platform::runCapturingOutput(executable, arguments);
}

const std::string label = "com.example.tessera.PrivilegedUpdater";

PropertyDictionary completeInfo() {
    return {{"AutoUpdateAllowedBundleIdentifier", "com.example.tessera"},
            {"AutoUpdateAllowedTeamIdentifier", "TEAM7X"},
            {"AutoUpdateAllowedDestinationPath", "/Applications/Tessera.app"},
            {"AutoUpdateMachServiceName", label},
            {"AutoUpdateLogFilePath", "/Library/Logs/TesseraPrivilegedUpdater.log"},
            {"AutoUpdateLaunchAgentLabel", "com.example.tessera.autostart"},
            {"CFBundleIdentifier", label}};
}

PropertyDictionary completeLaunchd() {
    return {{"Label", label},
            {"MachServices", PropertyDictionary{{label, true}}},
            {"ProgramArguments", PropertyArray{"/Library/PrivilegedHelperTools/" + label}},
            {"RunAtLoad", false}};
}

// In the private namespace: a helper that wrongly starts serves only there.
class HelperTool : public testsupport::PrivateSystemPaths {
protected:
    platform::CapturedOutput make(const PropertyDictionary& info, const PropertyDictionary& launchd,
                                  const std::string& executable = builtTool) {
        writeFile(folder_ / "Info.plist", platform::PropertyList::xml(info));
        writeFile(folder_ / "launchd.plist", platform::PropertyList::xml(launchd));
        return tool({"make", "--info-plist", folder_ / "Info.plist", "--launchd-plist", folder_ / "launchd.plist",
                     "--output", output()},
                    executable);
    }
    PropertyDictionary embeddedInfo() const { return platform::embeddedPropertyList(output(), "__info_plist"); }
    std::string output() const { return folder_ / label; }

    testsupport::TemporaryDirectory folder_;
};

// Each list would make a helper that refuses to start or cannot be blessed; the tool
// must say so and leave an earlier helper at the output untouched. Complete lists
// replace it with a helper that carries both and its tool folder, while the generic
// helper stays bare.
TEST_F(HelperTool, MakeRefusesListsTheHelperOrBlessingWouldRefuseAndEmbedsCompleteOnes) {
    writeFile(output(), "earlier helper");
    // Each case sets one value of one list; a null value removes the key.
    struct Case {
        std::string name;
        bool inLaunchd;
        std::string key;
        std::optional<platform::PropertyValue> value;
        std::string message;
    };
    std::vector<Case> cases{
        {"team outside the trust store", false, "AutoUpdateAllowedTeamIdentifier", "../team", "team identifier ../team"},
        {"relative destination", false, "AutoUpdateAllowedDestinationPath", "Applications/Tessera.app", "not an absolute path"},
        {"label not the service name", true, "Label", "com.example.other", "Label must be"},
        {"service not offered", true, "MachServices", PropertyDictionary{{"com.example.other", true}}, "MachServices must map"},
        {"program outside PrivilegedHelperTools", true, "ProgramArguments",
         PropertyArray{"/usr/libexec/autoupdatekit/PrivilegedUpdateHelper"}, "ProgramArguments must start"},
    };
    for (const char* key : {"AutoUpdateAllowedBundleIdentifier", "AutoUpdateAllowedTeamIdentifier",
                            "AutoUpdateAllowedDestinationPath", "AutoUpdateMachServiceName", "AutoUpdateLogFilePath",
                            "AutoUpdateLaunchAgentLabel"}) {
        cases.push_back({std::string("without ") + key, false, key, std::nullopt, std::string("missing policy value ") + key});
        cases.push_back({std::string("blank ") + key, false, key, " \n", std::string("missing policy value ") + key});
    }
    for (const auto& test : cases) {
        auto info = completeInfo();
        auto launchd = completeLaunchd();
        auto& changed = test.inLaunchd ? launchd : info;
        changed.erase(test.key);
        if (test.value) changed.emplace(test.key, *test.value);
        auto result = make(info, launchd);
        EXPECT_EQ(result.status, 1) << test.name;
        EXPECT_NE(result.bytes.find(test.message), std::string::npos) << test.name << ": " << result.bytes;
        EXPECT_EQ(readFile(output()), "earlier helper") << test.name;
    }
    EXPECT_EQ(testsupport::listTree(folder_.path()), "Info.plist\n" + label + "\nlaunchd.plist\n");

    auto result = make(completeInfo(), completeLaunchd());
    ASSERT_EQ(result.status, 0) << result.bytes;
    auto info = completeInfo();
    info["AutoUpdateToolDirectory"] = platform::paths::toolDirectory();
    EXPECT_EQ(embeddedInfo(), info);
    EXPECT_EQ(platform::readElfSection(output(), "__launchd_plist"), readFile(folder_ / "launchd.plist"));
    EXPECT_EQ(testsupport::lstatOf(output()).st_mode & 07777, 0755u);
    EXPECT_EQ(platform::readElfSection(AUTOUPDATEKIT_GENERIC_HELPER_PATH, "__info_plist"), std::nullopt);

    auto printed = tool({"print", output()});
    EXPECT_EQ(printed.status, 0);
    EXPECT_NE(printed.bytes.find("<string>/Applications/Tessera.app</string>"), std::string::npos) << printed.bytes;
    EXPECT_NE(printed.bytes.find("<string>/Library/PrivilegedHelperTools/" + label + "</string>"), std::string::npos);

    auto bare = tool({"print", AUTOUPDATEKIT_GENERIC_HELPER_PATH});
    EXPECT_EQ(bare.status, 1);
    EXPECT_NE(bare.bytes.find("carries no policy"), std::string::npos) << bare.bytes;
    auto started = tool({}, AUTOUPDATEKIT_GENERIC_HELPER_PATH);
    EXPECT_EQ(started.status, 1);
    EXPECT_EQ(started.bytes, "PrivilegedUpdateHelper failed: Missing helper policy value AutoUpdateAllowedBundleIdentifier.\n");
}

// The installed layout (bin/, libexec/autoupdatekit/) copied to a folder of its own, as
// a tree moved after its install: its autoupdate-helper finds its own tools and embeds
// their folder, and the helper made refuses to start, with one line, while anyone but
// root could change that folder or a tool the helper runs.
TEST_F(HelperTool, HelperRunsTheToolsOfTheTreeThatMadeItOnlyWhenRootAloneCanChangeThem) {
    std::string tree = folder_ / "moved";
    std::string tools = tree + "/libexec/autoupdatekit";
    auto layOut = [&] {
        platform::removeRecursively(tree);
        platform::createDirectories(tree + "/bin");
        platform::createDirectories(tools);
        writeFile(tree + "/bin/autoupdate-helper", readFile(builtTool), 0755);
        for (const std::string name : {"PrivilegedUpdateHelper", "codesign", "open"}) {
            writeFile(tools + "/" + name, readFile(platform::paths::toolDirectory() + "/" + name), 0755);
        }
    };
    layOut();
    auto result = make(completeInfo(), completeLaunchd(), tree + "/bin/autoupdate-helper");
    ASSERT_EQ(result.status, 0) << result.bytes;
    // Else the helpers below would run the build's own tools and start serving.
    ASSERT_EQ(*platform::PropertyList::stringValue(embeddedInfo(), "AutoUpdateToolDirectory"), tools);

    struct Case {
        std::string name;
        std::function<int()> change;
        std::string reason;
    };
    const std::string codesign = tools + "/codesign";
    const std::vector<Case> cases{
        {"folder writable by its group", [&] { return ::chmod(tools.c_str(), 0775); }, "the folder is writable by group or others"},
        {"folder owned by a user", [&] { return ::chown(tools.c_str(), 65534, 0); }, "the folder is not owned by root"},
        {"folder a link", [&] { return ::rename(tools.c_str(), (tools + ".real").c_str()) | ::symlink((tools + ".real").c_str(), tools.c_str()); },
         "Not a directory"},
        {"folder gone", [&] { return ::rename(tools.c_str(), (tools + ".gone").c_str()); }, "No such file or directory"},
        {"codesign writable by others", [&] { return ::chmod(codesign.c_str(), 0757); }, "codesign is writable by group or others"},
        {"open owned by a user", [&] { return ::chown((tools + "/open").c_str(), 65534, 65534); }, "open is not owned by root"},
        {"codesign a link", [&] { return ::unlink(codesign.c_str()) | ::symlink((tools + "/open").c_str(), codesign.c_str()); },
         "codesign: Too many levels of symbolic links"},
        {"codesign a folder", [&] { return ::unlink(codesign.c_str()) | ::mkdir(codesign.c_str(), 0755); }, "codesign is not a regular file"},
    };
    for (const auto& test : cases) {
        layOut();
        ASSERT_EQ(test.change(), 0) << test.name;
        // Bounded: a helper that wrongly starts would serve until stopped.
        auto started = platform::runCapturingOutput("/usr/bin/timeout", {"10", output()});
        EXPECT_EQ(started.status, 1) << test.name;
        EXPECT_EQ(started.bytes, "PrivilegedUpdateHelper failed: Untrusted tool folder " + tools + ": " + test.reason + ".\n") << test.name;
    }
}

}  // namespace
