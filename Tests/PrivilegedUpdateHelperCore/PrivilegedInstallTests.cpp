// Installs by the real root helper as an app asks for them: a helper killed at any
// step, many clients at once with their relaunches, and the system LaunchAgent. What an
// attacker tries, and the refusals of staged apps that do not verify, are in
// LocalAttackerTests.

#include "HelperInstallFixture.hpp"
#include "ToolCover.hpp"

#include "Platform/ToolPaths.hpp"

#include <algorithm>
#include <atomic>
#include <future>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;

class PrivilegedInstall : public HelperInstall {};

// The helper is killed as each of its tool runs starts: the checks of the request, of
// the copy and of the result. The destination always holds the old or the new app,
// whole, verifying and root-owned, and what the killed installs left beside it is gone
// once an install has run: only what the helper made, never a folder of another owner
// or a link under the same names.
TEST_F(PrivilegedInstall, AHelperKilledAtAnyStepLeavesTheOldOrTheNewVerifiedApp) {
    helper_.reset();  // each step runs a helper of its own
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
        expectInstalledAppWhole("after a kill at step " + std::to_string(step));
    }
    EXPECT_TRUE(finished) << "the install never finished between kills";
    EXPECT_EQ(versionAt(destination), "2.0");
    EXPECT_EQ(step, 6) << "an install checks the staged app, the installed one, the copy and the result";
    EXPECT_EQ(listTree("/Applications"), plantedOnly);
    EXPECT_TRUE(exists(folder_ / "staged/Sample.app"));
}

// A nobody's install into an empty destination relaunches the app as that user. Then
// every one of 200 clients at once gets its reply, the accepted installs all run, one at
// a time (never two copies in flight), and the one that asks for it relaunches the app
// as root.
TEST_F(PrivilegedInstall, TwoHundredClientsAtOnceAreAnsweredAndTheirInstallsRunOneAtATimeRelaunchingAsTheRequester) {
    platform::removeRecursively(destination);
    std::string byNobody = launchingApp(attackerFolder() + "/staged", "2.0");
    platform::giveTreeToOwner(attackerFolder() + "/staged", nobodyIdentifier, nobodyIdentifier);
    EXPECT_EQ(runAsNobody([&] { return scheduleInstallReply(requestFor(byNobody, "2.0-200", 0, true)); }), "Install scheduled.");
    ASSERT_TRUE(waitForLogLine("installed update 2.0-200")) << helperLogMessages();
    EXPECT_EQ(launched(), "65534 2.0\n");

    std::string staged = launchingApp(folder_ / "staged", "2.0");
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
        calls.push_back(std::async(std::launch::async, [&, client] {
            return scheduleInstallOnce(requestFor(staged, "2.0-" + std::to_string(client), 0, client == 0));
        }));
    }
    std::set<std::string> expected{"installed update 2.0-200"};
    for (int client = 0; client < clients; ++client) {
        HelperOutcome outcome = calls[static_cast<std::size_t>(client)].get();
        EXPECT_EQ(outcome.callbacks, 1);
        EXPECT_TRUE(outcome.reply && outcome.reply->accepted()) << client;
        expected.insert("installed update 2.0-" + std::to_string(client));
    }

    // Each accepted update installed once (bounded: 5 minutes).
    std::multiset<std::string> installed;
    waitUntil([&] {
        std::istringstream log(helperLogMessages());
        installed.clear();
        for (std::string line; std::getline(log, line);) {
            if (line.starts_with("installed update ")) installed.insert(line);
        }
        return installed.size() >= expected.size();
    }, std::chrono::minutes(5), std::chrono::milliseconds(100));
    watching = false;
    EXPECT_EQ(installed, std::multiset<std::string>(expected.begin(), expected.end()));
    EXPECT_EQ(mostCopiesAtOnce.get(), 1u);
    EXPECT_TRUE(waitUntil([&] { return launched() == "65534 2.0\n0 2.0\n"; }, std::chrono::seconds(5))) << launched();
    expectInstalledAppIntact("many installs");
    EXPECT_EQ(versionAt(destination), "2.0");
}

TEST_F(PrivilegedInstall, SystemLaunchAgentIsRootOwnedAndNamesTheInstalledExecutable) {
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
