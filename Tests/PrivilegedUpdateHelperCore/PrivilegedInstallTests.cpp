#include "PrivilegedInstaller.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "HelperClient.hpp"
#include "HelperProcess.hpp"
#include "NobodyProcess.hpp"
#include "RequestingProcess.hpp"
#include "SigningKeys.hpp"
#include "StepKiller.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <algorithm>
#include <atomic>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using autoupdatekit::PrivilegedUpdateRequest;
using privilegedhelper::PrivilegedInstaller;

namespace {

constexpr const char* destination = "/Applications/Sample.app";

class PrivilegedInstall : public UpdaterEnvironment {
protected:
    void SetUp() override {
        UpdaterEnvironment::SetUp();
        platform::createDirectories(folder_ / "markers", 0777);
        ::chmod((folder_ / "markers").c_str(), 0777);
    }

    // A signed sample app whose executable records "<uid> <version>" when it runs.
    std::string signedApp(const std::string& folder, const std::string& version) {
        SampleBundle sample;
        sample.executableScript = "#!/bin/sh\necho \"$(id -u) " + version + "\" >> '" + folder_ / "markers/launched" + "'\n";
        return UpdaterEnvironment::signedApp(folder, version, sample);
    }

    PrivilegedUpdateRequest requestFor(const std::string& staged, const std::string& identifier, pid_t pid = 0,
                                       bool launch = false) {
        return PrivilegedUpdateRequest(destination, staged, "com.example.sample", "TEAMA1", identifier, pid, launch);
    }

    std::string installedVersion() const { return versionAt(destination); }

    std::string launchedMarker() { return lineOnceWritten(folder_ / "markers/launched"); }
};

std::string verifyOutput(const std::string& app) {
    auto result = codesign({"--verify", "--deep", "--strict", app});
    return result.status == 0 ? "valid" : result.output;
}

}  // namespace

// A requester that keeps running holds back its own install only: another requester's
// install runs meanwhile, and the held one follows once its process has ended. (Naming
// another process than the sender is refused: LocalAttackerTests.)
TEST_F(PrivilegedInstall, WaitsForTheRequesterWithoutHoldingUpOtherRequesters) {
    signedApp("/Applications", "1.0");
    std::string v2 = signedApp(folder_ / "staged2", "2.0");
    std::string v3 = signedApp(folder_ / "staged3", "3.0");
    HelperProcess helper;
    std::string expectedLog;
    RequestingProcess requester([&](pid_t self) { return requestFor(v3, "3.0-3", self, true); }, false);
    EXPECT_EQ(requester.reply(), "Install scheduled.");
    auto second = scheduleInstallOnce(requestFor(v2, "2.0-2"));
    EXPECT_EQ(second.reply->message(), "Install scheduled.");
    ASSERT_TRUE(waitForLogLine("installed update 2.0-2")) << helperLogMessages();
    EXPECT_EQ(installedVersion(), "2.0");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    expectedLog += "accepted update 3.0-3 staged=" + v3 + "\naccepted update 2.0-2 staged=" + v2 + "\ninstalled update 2.0-2\n";
    EXPECT_EQ(helperLogMessages(), expectedLog);

    requester.end();
    ASSERT_TRUE(waitForLogLine("installed update 3.0-3")) << helperLogMessages();
    EXPECT_EQ(helperLogMessages(), expectedLog + "installed update 3.0-3\n");
    EXPECT_EQ(installedVersion(), "3.0");
    EXPECT_EQ(verifyOutput(destination), "valid");
    // Only the held request asked for a relaunch, which ran as root for a root client.
    EXPECT_EQ(launchedMarker(), "0 3.0\n");
    // Nothing is left beside the app, and everything in it belongs to root.
    EXPECT_EQ(listTree("/Applications").find(".Sample.autoupdate"), std::string::npos) << listTree("/Applications");
    auto result = platform::runCapturingOutput("/usr/bin/find", {destination, "!", "-user", "0", "-o", "!", "-group", "0"});
    EXPECT_EQ(result.bytes, "");
    EXPECT_EQ(lstatOf(std::string(destination) + "/Contents/MacOS/Sample").st_mode & 07777, 0755u);
    // There was no /Library/Logs: the helper made its log's folder, root's alone.
    struct stat logs = lstatOf("/Library/Logs");
    EXPECT_EQ(logs.st_mode, S_IFDIR | 0755u);
    EXPECT_EQ(logs.st_uid, 0u);
}

TEST_F(PrivilegedInstall, RelaunchRunsAsTheRequestingUserIntoAnEmptyDestination) {
    std::string v2 = signedApp(folder_ / "staged", "2.0");
    platform::giveTreeToOwner(folder_ / "staged", nobodyIdentifier, nobodyIdentifier);
    HelperProcess helper;
    EXPECT_EQ(runAsNobody([&] { return scheduleInstallReply(requestFor(v2, "2.0-2", 0, true)); }), "Install scheduled.");
    ASSERT_TRUE(waitForLogLine("installed update 2.0-2")) << helperLogMessages();
    EXPECT_EQ(launchedMarker(), "65534 2.0\n");
    EXPECT_EQ(installedVersion(), "2.0");
}

// Policy refusals (other destinations, identifiers, teams) and staged apps changed
// during the install are in LocalAttackerTests. A refused request never relaunches.
TEST_F(PrivilegedInstall, InvalidRequestsAreRejectedWithTheirTextsAndChangeNothing) {
    TeamKey other = makeTeamKey(folder_.path(), "TEAMB2");
    trustKeyForTeam(other.key, "TEAMB2");
    std::string foreign = buildBundle(folder_ / "foreign", "Sample");
    signWithTeam(foreign, other);
    std::string unsignedApp = buildBundle(folder_ / "unsigned", "Sample");
    // A staged app that verifies but carries a set-user-ID file.
    std::string setID = buildBundle(folder_ / "setid", "Sample");
    writeFile(setID + "/Contents/MacOS/tool", "#!/bin/sh\n", 0755);
    ::chmod((setID + "/Contents/MacOS/tool").c_str(), 04755);
    signWithTeam(setID, *team_);
    signedApp("/Applications", "1.0");
    std::string before = listTree("/Applications");
    HelperProcess helper;

    auto request = [&](std::string current, std::string path) {
        return PrivilegedUpdateRequest(current, path, "com.example.sample", "TEAMA1", "2.0-2", 0, true);
    };
    std::string missing = folder_ / "missing/Sample.app";
    const std::pair<PrivilegedUpdateRequest, std::string> cases[] = {
        // Trailing slash, "." and ".." detours name the same destination and pass on to the next check.
        {request("/Applications/./Sample.app/", missing), "App bundle does not exist at " + missing + "."},
        {request("/Applications/Sub/../Sample.app", missing), "App bundle does not exist at " + missing + "."},
        {request(destination, unsignedApp), "Signature check failed: " + unsignedApp + ": code object is not signed at all\n"},
        {request(destination, foreign), "Team identifier mismatch. Expected TEAMA1, got TEAMB2."},
        {request(destination, setID), "Signature check failed: set-ID file " + setID + "/Contents/MacOS/tool"},
    };
    for (const auto& [input, message] : cases) {
        auto outcome = scheduleInstallOnce(input);
        ASSERT_TRUE(outcome.reply) << outcome.error;
        EXPECT_FALSE(outcome.reply->accepted());
        EXPECT_EQ(outcome.reply->message(), message);
    }
    EXPECT_EQ(listTree("/Applications"), before);
    EXPECT_EQ(verifyOutput(destination), "valid");
    EXPECT_FALSE(exists(folder_ / "markers/launched"));

    // An unsigned installed app refuses every request, however good the staged one is.
    platform::removeRecursively(destination);
    buildBundle("/Applications", "Sample");
    auto refused = scheduleInstallOnce(request(destination, signedApp(folder_ / "staged", "2.0")));
    EXPECT_EQ(refused.reply->message(), "Signature check failed: /Applications/Sample.app: code object is not signed at all\n");
}

// The helper is killed as each of its tool runs starts: the checks of the request, of
// the copy and of the result. The destination always holds the old or the new app,
// whole, verifying and root-owned, and what the killed installs left beside it is gone
// once an install has run: only what the helper made, never a folder of another owner
// or a link under the same names.
TEST_F(PrivilegedInstall, AHelperKilledAtAnyStepLeavesTheOldOrTheNewVerifiedApp) {
    signedApp("/Applications", "1.0");
    std::string staged = signedApp(folder_ / "staged", "2.0");
    const std::string uuid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
    std::string foreignFolder = "/Applications/.Sample.autoupdate." + uuid + ".copying";
    std::string linkName = "/Applications/.Sample.autoupdate.backup." + uuid + ".app";
    platform::createDirectories(foreignFolder);
    writeFile(foreignFolder + "/kept", "");
    platform::giveTreeToOwner(foreignFolder, nobodyIdentifier, nobodyIdentifier);
    ASSERT_EQ(::symlink((folder_ / "staged").c_str(), linkName.c_str()), 0);
    std::string plantedOnly = listTree("/Applications");
    StepKiller killer({platform::paths::codesign()});
    int step = 1;
    bool finished = false;
    for (; step <= 30 && !finished; ++step) {
        HelperProcess helper;
        std::string installed = "installed update 2.0-" + std::to_string(step) + "\n";
        killer.arm(step);
        auto killing = std::async(std::launch::async, [&] {
            return killer.killAtChosenStep(helper.pid(), [&] { return helperLogMessages().find(installed) != std::string::npos; });
        });
        scheduleInstallOnce(requestFor(staged, "2.0-" + std::to_string(step)));  // cut off when the kill comes first
        finished = !killing.get();
        ASSERT_TRUE(exists(destination)) << "nothing installed after a kill at step " << step;
        EXPECT_EQ(verifyOutput(destination), "valid") << "after a kill at step " << step;
        EXPECT_EQ(lstatOf(destination).st_uid, 0u);
        std::string version = installedVersion();
        EXPECT_TRUE(version == (finished ? "2.0" : "1.0") || version == "2.0") << version << " after a kill at step " << step;
    }
    EXPECT_TRUE(finished) << "the install never finished between kills";
    EXPECT_EQ(step, 6) << "an install checks the staged app, the installed one, the copy and the result";
    EXPECT_EQ(listTree("/Applications"), plantedOnly);
    EXPECT_TRUE(exists(folder_ / "staged/Sample.app"));
}

// Every one of 200 clients at once gets its reply, and the accepted installs all run,
// one at a time (never two copies in flight).
TEST_F(PrivilegedInstall, TwoHundredClientsAtOnceAreAnsweredAndTheirInstallsRunOneAtATime) {
    signedApp("/Applications", "1.0");
    std::string staged = signedApp(folder_ / "staged", "2.0");
    HelperProcess helper;
    std::atomic<bool> watching{true};
    auto mostCopiesAtOnce = std::async(std::launch::async, [&] {
        std::size_t most = 0;
        for (int poll = 0; poll < 300000 && watching; ++poll) {  // at most about 5 minutes
            // Each install copies and checks inside a holding folder of its own.
            auto names = platform::directoryEntries("/Applications");
            most = std::max(most, static_cast<std::size_t>(std::count_if(names.begin(), names.end(), [](const std::string& name) {
                                      return name.ends_with(".copying");
                                  })));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return most;
    });
    constexpr int clients = 200;
    std::vector<std::future<HelperOutcome>> calls;
    for (int client = 0; client < clients; ++client) {
        calls.push_back(std::async(std::launch::async, [&, client] { return scheduleInstallOnce(requestFor(staged, "2.0-" + std::to_string(client))); }));
    }
    int accepted = 0;
    for (auto& call : calls) {
        HelperOutcome outcome = call.get();
        EXPECT_EQ(outcome.callbacks, 1);
        accepted += outcome.reply && outcome.reply->accepted() ? 1 : 0;
    }
    EXPECT_EQ(accepted, clients);

    auto idsAfter = [](const std::string& log, const std::string& prefix) {
        std::vector<std::string> ids;
        for (std::size_t at = log.find(prefix); at != std::string::npos; at = log.find(prefix, at + 1)) {
            std::size_t start = at + prefix.size();
            ids.push_back(log.substr(start, log.find_first_of(" \n", start) - start));
        }
        return ids;
    };
    auto order = idsAfter(helperLogMessages(), "accepted update ");
    std::vector<std::string> installed;
    for (int attempt = 0; attempt < 3000 && installed.size() < order.size(); ++attempt) {  // at most 5 minutes
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        installed = idsAfter(helperLogMessages(), "installed update ");
    }
    watching = false;
    std::sort(order.begin(), order.end());
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed, order);
    EXPECT_EQ(mostCopiesAtOnce.get(), 1u);
    EXPECT_EQ(verifyOutput(destination), "valid");
    EXPECT_EQ(installedVersion(), "2.0");
}

TEST_F(PrivilegedInstall, SystemLaunchAgentIsRootOwnedAndNamesTheInstalledExecutable) {
    signedApp("/Applications", "1.0");
    HelperProcess helper;
    const std::string agent = "/Library/LaunchAgents/com.example.sample.autostart.plist";
    // Calls at once each write a whole file of their own and rename it into place.
    std::vector<std::future<HelperOutcome>> calls;
    for (int call = 0; call < 8; ++call) calls.push_back(std::async(std::launch::async, [] { return installSystemLaunchAgentOnce(); }));
    for (auto& call : calls) {
        auto installed = call.get();
        ASSERT_TRUE(installed.reply) << installed.error;
        EXPECT_EQ(installed.reply->message(), "System LaunchAgent installed.");
    }
    auto content = platform::PropertyList::readFile(agent);
    EXPECT_EQ(content, platform::PropertyValue(platform::PropertyDictionary{
                           {"Label", "com.example.sample.autostart"},
                           {"ProgramArguments", platform::PropertyArray{"/Applications/Sample.app/Contents/MacOS/Sample"}},
                           {"RunAtLoad", true},
                           {"KeepAlive", false},
                           {"LimitLoadToSessionType", "Aqua"},
                       }));
    auto status = lstatOf(agent);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(status.st_gid, 0u);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    EXPECT_EQ(listTree("/Library/LaunchAgents"), "com.example.sample.autostart.plist\n");

    // An executable name that leaves the bundle is no name.
    std::string app = buildBundle(folder_ / "bad", "Sample");
    setInfoValues(app, {{"CFBundleExecutable", "../../../bin/sh"}});
    signWithTeam(app, *team_);
    platform::removeRecursively(destination);
    ASSERT_EQ(platform::runCapturingOutput(platform::paths::ditto(), {app, destination}).status, 0);
    auto refused = installSystemLaunchAgentOnce();
    EXPECT_EQ(refused.reply->message(), "LaunchAgent install failed: Could not determine app executable name.");
}
