#include "AutoUpdateKit/PrivilegedHelperBlesser.hpp"

#include "BundleBuilder.hpp"
#include "ChildProcess.hpp"
#include "Files.hpp"
#include "PrivateSystemPaths.hpp"
#include "ReleaseBuilder.hpp"
#include "UpdateCheckFixture.hpp"
#include "WaitUntil.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ServiceManagement.hpp"
#include "Platform/ToolPaths.hpp"

#include <csignal>
#include <thread>
#include <unistd.h>

using namespace autoupdatekit;
using namespace testsupport;

namespace {

constexpr const char* label = "com.example.sample.PrivilegedUpdater";
const std::string binDir = AUTOUPDATEKIT_BUILD_BIN_DIR;

// The update check's fixture, with the sample app built from the real client program.
class Orchestration : public UpdateCheck {
protected:
    // Turns a built bundle into the sample app: the real client program as its
    // executable, the helper inside it, and its update configuration.
    void makeSampleApp(const std::string& app) {
        auto copy = [](const std::string& from, const std::string& to) { writeFile(to, readFile(from), 0755); };
        copy(binDir + "/DemoApp", app + "/Contents/MacOS/Sample");
        copy(binDir + "/TestPrivilegedUpdateHelper", app + "/Contents/Library/LaunchServices/" + label);
        setInfoValues(app, {{"AutoUpdateManifestURL", server_.url("/manifest.json")},
                            {"AutoUpdateManifestPublicKey", publicKey_},
                            {"AutoUpdateMachServiceName", label},
                            {"SampleMarkerPath", folder_ / "launched"}});
    }

    // A release of the sample app at the version.
    ReleaseOptions sampleRelease(const std::string& version, const std::string& build) {
        ReleaseOptions options{version, build};
        options.prepare = [this](const std::string& app) { makeSampleApp(app); };
        return options;
    }

    // Version 1.0 of the sample app, signed by the trusted team.
    std::string sampleApp(const std::string& folder) { return makeRelease(folder, *team_, server_.url("/x.zip"), sampleRelease("1.0", "1")).app; }

    // Installs version 1.0 at the path and publishes 2.0 on the server.
    std::string installAndPublish(const std::string& folder) {
        std::string app = sampleApp(folder);
        published_ = publish(sampleRelease("2.0", "2"));
        return app;
    }

    platform::CapturedOutput runApp(const std::string& app, const std::vector<std::string>& arguments) {
        return platform::runCapturingOutput(app + "/Contents/MacOS/Sample", arguments);
    }

    // What blessing the helper of the app reports; empty when it installed it.
    static std::string blessError(const std::string& name, const std::string& bundle) {
        try {
            PrivilegedHelperBlesser::ensureInstalled(name, platform::FileURL(bundle));
            return std::string();
        } catch (const PrivilegedHelperBlesserError& error) {
            return error.description();
        }
    }

    std::optional<Release> published_;

    // Waits (bounded: 30 s) for the marker to hold the line.
    bool launched(const std::string& line) {
        std::string marker = folder_ / "launched";
        return waitUntil([&] { return exists(marker) && readFile(marker).find(line) != std::string::npos; }, std::chrono::seconds(30));
    }
};

}  // namespace

TEST_F(Orchestration, FailuresLeaveTheAppRunningWithTheError) {
    // No supervisor: the helper cannot be loaded.
    std::string app = installAndPublish("/Applications");
    auto run = runApp(app, {"privileged"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.bytes.find("AutoUpdateKit: The update could not be handed over for installing; nothing was changed. (Could not "
                             "install the privileged helper: launchctl bootstrap failed: "),
              std::string::npos)
        << run.bytes;
    EXPECT_EQ(versionAt(app), "1.0");

    // The helper is there but refuses: another destination than its policy's.
    Supervisor supervisor;
    platform::removeRecursively(app);
    std::string other = installAndPublish("/Applications/Other");
    run = runApp(other, {"privileged"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.bytes.find("(The privileged update helper rejected the request: Destination "
                             "/Applications/Other/Sample.app is not allowed.)\n"),
              std::string::npos)
        << run.bytes;
    EXPECT_EQ(versionAt(other), "1.0");

    // The supervisor logs, with the time, each job it loads, starts and sees end, and
    // each job it cannot load; without systemd, to its own file too.
    std::string job = std::string(label);
    std::string prefix = "autoupdatekit-launchd: loaded " + job + " from /Library/LaunchDaemons/" + job +
                         ".plist\nautoupdatekit-launchd: started " + job + " (pid ";
    std::string logged = timestampedMessages(supervisor.errorOutput());
    ASSERT_EQ(logged.rfind(prefix, 0), 0u) << logged;
    pid_t helper = std::stoi(logged.substr(prefix.size()));
    std::string expected = prefix + std::to_string(helper) + "): /Library/PrivilegedHelperTools/" + job + "\n";
    EXPECT_EQ(logged, expected);
    ::kill(helper, SIGTERM);
    expected += "autoupdatekit-launchd: " + job + " (pid " + std::to_string(helper) + ") was killed by signal 15\n";
    EXPECT_TRUE(waitUntil([&] { return timestampedMessages(supervisor.errorOutput()) == expected; }, std::chrono::seconds(10)))
        << supervisor.errorOutput();
    EXPECT_NE(platform::runDiscardingOutput(platform::paths::launchctl(), {"bootstrap", "system", folder_ / "none.plist"}), 0);
    EXPECT_NE(supervisor.errorOutput().find(" autoupdatekit-launchd: could not load " + folder_ / "none.plist: "), std::string::npos)
        << supervisor.errorOutput();
    EXPECT_EQ(readFileIfAny("/Library/Logs/autoupdatekit-launchd.log"), supervisor.errorOutput());
}

// Blessing checks the name, the helper and the app's signature before it changes
// anything. An ordinary user's app installs its helper through the system's
// administrator prompt: polkit lets pkexec run the bless tool as root, which makes every
// check again. Allowed, the helper is installed and served; refused, or with no prompt
// to show, a clear error names the command to run as root instead, and nothing is
// installed.
TEST_F(Orchestration, BlessingChecksFirstAndAnOrdinaryUsersAppBlessesThroughTheAdministratorPrompt) {
    Supervisor supervisor;
    std::string candidate = sampleApp(folder_ / "apps");
    EXPECT_NE(blessError("../evil", candidate).find("is not a plain name"), std::string::npos);
    EXPECT_NE(blessError("com.example.other", candidate).find("has no helper tool"), std::string::npos);
    // The helper's requirement holds only for the trusted team's signature.
    signAdHoc(candidate);
    EXPECT_NE(blessError(label, candidate).find("does not satisfy the helper's SMAuthorizedClients requirement"), std::string::npos)
        << blessError(label, candidate);
    EXPECT_FALSE(exists("/Library/PrivilegedHelperTools"));
    EXPECT_FALSE(exists("/Library/LaunchDaemons"));

    PolkitBus polkit(AUTOUPDATEKIT_BLESS_POLICY_PATH, R"(polkit.addRule(function(action, subject) {
    if (action.id != "org.autoupdatekit.bless" || subject.user != "nobody") return polkit.Result.NOT_HANDLED;
    var command = action.lookup("command_line");
    if (command.indexOf("/allowed/") >= 0) return polkit.Result.YES;
    if (command.indexOf("/refused/") >= 0) return polkit.Result.NO;
    return polkit.Result.NOT_HANDLED;
});
)");
    ::chmod(folder_.path().c_str(), 0755);
    const std::string runAsRoot = " To install it, run as root: " + platform::paths::bless() + " " + label + " ";
    const std::pair<std::string, std::string> cases[] = {
        {"refused", "The administrator did not allow installing the helper." + runAsRoot},
        {"asked", "No administrator prompt could be shown (no polkit authentication agent)." + runAsRoot},
        {"allowed", ""},
    };
    for (const auto& [answer, error] : cases) {
        std::string app = sampleApp(folder_ / answer);
        EXPECT_EQ(runAsNobody([&] { return blessError(label, app); }),
                  error.empty() ? "" : "Could not install the privileged helper: " + error + app)
            << answer;
        EXPECT_EQ(exists(std::string("/Library/PrivilegedHelperTools/") + label), error.empty()) << answer;
    }
    EXPECT_TRUE(PrivilegedHelperBlesser::isInstalled(label));
    EXPECT_EQ(lstatOf(std::string("/Library/PrivilegedHelperTools/") + label).st_uid, 0u);
}

// An app's package registers its helper from its maintainer scripts: as root only,
// `autoupdate-helper install` puts the helper and its job in place and has them served
// (by the supervisor, or by the helper's socket unit where systemd runs), and
// `uninstall` takes all of it away again.
TEST_F(Orchestration, APackageInstallsAndUninstallsItsHelperWithoutHandWork) {
    const std::string helper = binDir + "/TestPrivilegedUpdateHelper";
    const std::string installedHelper = std::string("/Library/PrivilegedHelperTools/") + label;
    const std::string job = std::string("/Library/LaunchDaemons/") + label + ".plist";
    auto helperTool = [](const std::vector<std::string>& arguments) {
        auto run = platform::runCapturingOutput(binDir + "/autoupdate-helper", arguments);
        return std::to_string(run.status) + " " + run.bytes;
    };
    EXPECT_EQ(runAsNobody([&] { return helperTool({"install", helper}); }),
              "1 autoupdate-helper install: installing a helper for the whole system needs root\n");
    {
        Supervisor supervisor;
        EXPECT_EQ(helperTool({"install", helper}), "0 Installed the privileged helper " + std::string(label) + "\n");
        EXPECT_TRUE(PrivilegedHelperBlesser::isInstalled(label));
        EXPECT_EQ(lstatOf(installedHelper).st_mode & 07777, 0544u);
        EXPECT_TRUE(exists(job));
        EXPECT_EQ(helperTool({"uninstall", label}), "0 Uninstalled the privileged helper " + std::string(label) + "\n");
        EXPECT_FALSE(PrivilegedHelperBlesser::isInstalled(label));
        EXPECT_FALSE(exists(installedHelper) || exists(job));
    }

    // Where systemd runs, its own systemctl (which cannot run here: it stands in as a
    // script that records its calls) enables, reports and stops the socket unit.
    TmpfsMount systemdRuns("/run/systemd", "mode=0755");
    platform::createDirectories("/run/systemd/system");
    std::string calls = folder_ / "systemctl-calls";
    writeFile(folder_ / "systemctl", "#!/bin/sh\necho \"$*\" >> '" + calls + "'\n[ \"$1\" != is-enabled ] || [ -e '" + installedHelper + "' ]\n", 0755);
    BindMount systemctl(folder_ / "systemctl", platform::servicemanagement::systemctlPath);
    EXPECT_EQ(helperTool({"install", helper}), "0 Installed the privileged helper " + std::string(label) + "\n");
    EXPECT_TRUE(PrivilegedHelperBlesser::isInstalled(label));
    EXPECT_EQ(helperTool({"uninstall", label}), "0 Uninstalled the privileged helper " + std::string(label) + "\n");
    EXPECT_FALSE(PrivilegedHelperBlesser::isInstalled(label));
    std::string unit = std::string("autoupdatekit-helper@") + label;
    EXPECT_EQ(readFile(calls), "enable --now " + unit + ".socket\nis-enabled --quiet " + unit + ".socket\ndisable --now " + unit +
                                   ".socket\nstop " + unit + ".service\nis-enabled --quiet " + unit + ".socket\n");
}

// An app that must save its work before it quits: through each entry, the install
// waits for the app to save and quit on its own terms, every callback runs on its main
// loop, and the new version is relaunched; "install on quit" installs when the app ends
// without relaunching it; autoupdatectl hands an update over as the app would; an
// update rebuilt from a delta takes the same path as an unpacked archive (here the
// privileged helper's, which checks it again as root); and the next check of the new
// version empties the staging folder.
TEST_F(Orchestration, TheAppSavesBeforeEveryInstallAndMayInstallWhenItQuits) {
    struct Row {
        std::vector<std::string> arguments;
        std::string folder;
        std::string marker;  // the launches and saves, in order
        bool installed;
        bool fromADelta = false;
    };
    const std::string launchedAndSaved = "1.0 0\nsaved 1.0\n2.0 0\n";
    const Row rows[] = {
        {{"start-up"}, folder_ / "apps", launchedAndSaved, true},
        {{"scheduled", "install"}, folder_ / "apps", launchedAndSaved, true},
        {{"background", "install"}, folder_ / "apps", launchedAndSaved, true},
        {{"privileged"}, "/Applications", launchedAndSaved, true, true},
        {{"background", "later"}, folder_ / "apps", "1.0 0\nsaved 1.0\n", false},
        {{"autoupdatectl", "install"}, folder_ / "apps", "2.0 0\n", true},
        {{"scheduled", "on-quit"}, folder_ / "apps", "1.0 0\nsaved 1.0\n", true},
    };
    Supervisor supervisor;
    for (const auto& row : rows) {
        std::string mode = row.arguments[0] + " " + row.arguments.back();
        platform::removeRecursively(folder_ / "launched");
        platform::removeRecursively(row.folder + "/Sample.app");
        std::string app = installAndPublish(row.folder);
        if (row.fromADelta) publishDelta(*published_, app);
        auto run = row.arguments[0] == "autoupdatectl" ? autoupdatectl({"install", app}) : runApp(app, row.arguments);
        EXPECT_EQ(run.bytes.find("rebuilt update 2.0-2 from a delta") != std::string::npos, row.fromADelta) << mode << "\n" << run.bytes;
        EXPECT_EQ(run.bytes.find("not on the main thread"), std::string::npos) << mode << "\n" << run.bytes;
        if (row.installed) {
            EXPECT_TRUE(waitUntil([&] { return versionAt(app) == "2.0"; }, std::chrono::seconds(30))) << mode << "\n" << run.bytes;
        }
        if (row.marker.find("2.0") != std::string::npos) EXPECT_TRUE(launched("2.0 0")) << mode;
        else std::this_thread::sleep_for(std::chrono::seconds(1));  // a relaunch would have come by now
        EXPECT_EQ(readFileIfAny(folder_ / "launched"), row.marker) << mode << "\n" << run.bytes;
        EXPECT_EQ(versionAt(app), row.installed ? "2.0" : "1.0") << mode;
    }

    // The new version's first check finds nothing newer and empties the staging folder.
    std::string app = folder_ / "apps/Sample.app";
    ASSERT_TRUE(exists(staging()));
    auto checked = runApp(app, {"check"});
    EXPECT_FALSE(exists(staging())) << checked.bytes;
    checked = autoupdatectl({"install", app});
    EXPECT_NE(checked.bytes.find("up to date at 2.0 (2)"), std::string::npos) << checked.bytes;
    EXPECT_EQ(autoupdatectl({"install"}).status, 2);
}
